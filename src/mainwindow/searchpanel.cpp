#include "mainwindow/searchpanel.h"

#include "ui/lang.h"
#include "ui/theme.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

#include <algorithm>

namespace {

// Between the item's name and its group's name: ideographic space, middle dot, ideographic space.
const QString kSeparator = QStringLiteral("\u3000\u00B7\u3000");

QString displayName(const Item& item)
{
    return item.name.isEmpty() ? QFileInfo(item.path).completeBaseName() : item.name;
}

// An item is found by the name the grid shows (in English "Desktop" for a stored "桌面") and by the stored one.
bool nameMatches(const QString& stored, const QString& shown, const QString& query)
{
    return shown.toLower().contains(query) || stored.toLower().contains(query);
}

} // namespace

SearchPanel::SearchPanel(const QList<Group>* groups, QWidget* parent)
    : QWidget(parent), m_groups(groups), m_edit(new QLineEdit(this)), m_list(new QListWidget(this)),
      m_debounce(new QTimer(this))
{
    setObjectName(QStringLiteral("searchPanel"));
    setAttribute(Qt::WA_StyledBackground); // a plain QWidget paints its style-sheet background only with this
    m_edit->setObjectName(QStringLiteral("searchEdit"));
    m_edit->setPlaceholderText(Lang::tr("搜索面板内的项目…（Esc 关闭）"));
    m_list->setObjectName(QStringLiteral("searchResults"));
    m_list->setIconSize(QSize(24, 24));
    m_list->setSpacing(2);
    m_debounce->setObjectName(QStringLiteral("searchDebounce"));
    m_debounce->setSingleShot(true);
    m_debounce->setInterval(kDebounceMs);

    connect(m_debounce, &QTimer::timeout, this, [this]() { refresh(m_edit->text()); });
    connect(m_edit, &QLineEdit::textChanged, this, [this]() { m_debounce->start(); });
    connect(m_list, &QListWidget::itemActivated, this, &SearchPanel::onActivated);
    // The keys of any launcher's search field: Return runs the highlighted row, Up and Down move it.
    m_edit->installEventFilter(this);
    hide();
}

void SearchPanel::placeIn(int areaWidth)
{
    const int pw = std::min(areaWidth - 60, 460);
    setGeometry((areaWidth - pw) / 2, 64, pw, 320);
    layoutChildren(); // a hidden widget gets its resize event only when shown
}

void SearchPanel::layoutChildren()
{
    m_edit->setGeometry(10, 10, width() - 20, 30);
    m_list->setGeometry(10, 48, width() - 20, 262);
}

void SearchPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutChildren();
}

void SearchPanel::applyStyle()
{
    const bool light = currentTheme().surface.lightness() > 127;
    if (light) {
        setStyleSheet(
            QStringLiteral("QWidget#searchPanel{background:#FFFFFF;border:1px solid #DDE2EB;border-radius:10px;}"));
        m_edit->setStyleSheet(QStringLiteral("QLineEdit{background:#F4F6FA;color:#39404C;border:1px solid #E2E6EE;"
                                             "border-radius:8px;padding:0 10px;font-size:13px;}"));
        m_list->setStyleSheet(QStringLiteral("QListWidget{background:transparent;border:none;color:#39404C;"
                                             "font-size:13px;}QListWidget::item{padding:6px 8px;border-radius:6px;}"
                                             "QListWidget::item:selected{background:#2C6BE0;color:#FFFFFF;}"));
    } else {
        setStyleSheet(
            QStringLiteral("QWidget#searchPanel{background:#252A34;border:1px solid #3A4152;border-radius:10px;}"));
        m_edit->setStyleSheet(QStringLiteral("QLineEdit{background:#2F353F;color:#D5D8E2;border:1px solid #414857;"
                                             "border-radius:8px;padding:0 10px;font-size:13px;}"));
        m_list->setStyleSheet(QStringLiteral("QListWidget{background:transparent;border:none;color:#D5D8E2;"
                                             "font-size:13px;}QListWidget::item{padding:6px 8px;border-radius:6px;}"
                                             "QListWidget::item:selected{background:#2C6BE0;color:#FFFFFF;}"));
    }
}

void SearchPanel::toggle()
{
    if (isVisible()) {
        hide();
        return;
    }
    // The clear button loads its theme icon: a cost of the first search, not of every start.
    if (!m_edit->isClearButtonEnabled())
        m_edit->setClearButtonEnabled(true);
    applyStyle();
    raise();
    show();
    m_edit->setFocus(Qt::ShortcutFocusReason);
    m_edit->selectAll();
    refresh(m_edit->text());
}

void SearchPanel::refresh(const QString& text)
{
    m_list->clear();
    m_results.clear();
    const QString q = text.trimmed().toLower();
    if (q.isEmpty() || !m_groups)
        return;
    bool full = false;
    for (int g = 0; g < m_groups->size() && !full; ++g) {
        const Group& group = m_groups->at(g);
        for (int i = 0; i < group.items.size(); ++i) {
            const Item& item = group.items.at(i);
            const QString stored = displayName(item);
            const QString name = Lang::tr(stored);
            if (!nameMatches(stored, name, q))
                continue;
            if (m_results.size() >= kResultLimit) {
                auto* more = new QListWidgetItem(Lang::tr("（结果过多，仅显示前 %1 条）").arg(kResultLimit));
                more->setFlags(Qt::NoItemFlags);
                m_list->addItem(more);
                full = true;
                break;
            }
            auto* row = new QListWidgetItem(name + kSeparator + Lang::tr(group.name)); // as the sidebar shows it
            row->setData(Qt::UserRole, item.path);
            m_list->addItem(row);
            m_results.append({g, i});
        }
    }
    if (m_list->count() > 0)
        m_list->setCurrentRow(0);
}

QPair<int, int> SearchPanel::locate(const QString& path, int groupHint, int itemHint) const
{
    if (!m_groups)
        return {-1, -1};
    const QList<Group>& groups = *m_groups;
    if (groupHint >= 0 && groupHint < groups.size()) {
        const QList<Item>& items = groups.at(groupHint).items;
        if (itemHint >= 0 && itemHint < items.size() && items.at(itemHint).path == path)
            return {groupHint, itemHint};
        for (int i = 0; i < items.size(); ++i)
            if (items.at(i).path == path)
                return {groupHint, i};
    }
    for (int g = 0; g < groups.size(); ++g) {
        const QList<Item>& items = groups.at(g).items;
        for (int i = 0; i < items.size(); ++i)
            if (items.at(i).path == path)
                return {g, i};
    }
    return {-1, -1};
}

void SearchPanel::runResult(int row)
{
    if (row >= 0 && row < m_results.size())
        runRow(row);
}

// The result index was taken when the list was filled; the model may have changed since (items added, moved,
// removed). The row runs the item whose path it shows, wherever that is now, or nothing when it is gone.
void SearchPanel::runRow(int row)
{
    const QPair<int, int> at = m_results.at(row);
    const QListWidgetItem* shown = m_list->item(row);
    const QString path = shown ? shown->data(Qt::UserRole).toString() : QString();
    hide();
    const QPair<int, int> now = locate(path, at.first, at.second);
    if (now.first >= 0)
        emit launchRequested(now.first, now.second);
}

void SearchPanel::onActivated(QListWidgetItem* activated)
{
    if (!activated)
        return;
    int row = m_list->row(activated);
    if (m_debounce->isActive()) {
        // The list still shows the results of older text: search for the current text first, then run the row
        // the user pointed at, found again by its path.
        const QString path = activated->data(Qt::UserRole).toString();
        const QString text = activated->text();
        const QPair<int, int> hint = row >= 0 && row < m_results.size() ? m_results.at(row) : QPair<int, int>(-1, -1);
        m_debounce->stop();
        refresh(m_edit->text());
        row = -1;
        for (int r = 0; r < m_results.size(); ++r) {
            const QListWidgetItem* it = m_list->item(r);
            if (path.isEmpty() ? it->text() == text : it->data(Qt::UserRole).toString() == path) {
                row = r;
                break;
            }
        }
        if (row < 0) {
            // The newer text no longer lists it, but it is still what the user chose: run it from the model by
            // its path rather than some other row that happens to be current now.
            if (hint.first < 0 || path.isEmpty())
                return;
            hide();
            const QPair<int, int> now = locate(path, hint.first, hint.second);
            if (now.first >= 0)
                emit launchRequested(now.first, now.second);
            return;
        }
        m_list->setCurrentRow(row);
    }
    runResult(row);
}

bool SearchPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_edit || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
        moveHighlight(key == Qt::Key_Down ? 1 : -1);
        return true;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        runHighlighted();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void SearchPanel::moveHighlight(int step)
{
    if (m_debounce->isActive()) {
        m_debounce->stop();
        refresh(m_edit->text());
    }
    const int count = int(m_results.size()); // the overflow row is never highlighted
    if (count == 0)
        return;
    m_list->setCurrentRow(std::clamp(m_list->currentRow() + step, 0, count - 1));
}

void SearchPanel::runHighlighted()
{
    // Typed within the debounce, the rows still belong to older text: the top row of the newest text runs.
    if (m_debounce->isActive()) {
        m_debounce->stop();
        refresh(m_edit->text());
    }
    runResult(m_list->currentRow());
}

bool SearchPanel::isToggleKey(const QKeyEvent* event)
{
    return event->key() == Qt::Key_F && (event->modifiers() & Qt::ControlModifier);
}

bool SearchPanel::handleKey(QKeyEvent* event)
{
    if (isToggleKey(event)) {
        toggle();
        event->accept();
        return true;
    }
    if (event->key() == Qt::Key_Escape && isVisible()) {
        hide();
        event->accept();
        return true;
    }
    return false;
}

void SearchPanel::keyPressEvent(QKeyEvent* event)
{
    if (!handleKey(event))
        QWidget::keyPressEvent(event);
}

void SearchPanel::stop()
{
    m_debounce->stop();
}
