#include "mainwindow/shortcuteditdialog.h"

#include "icons/iconloader.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/screenfit.h"
#include "ui/theme.h"
#include "ui/windowcorners.h"

#include <QCheckBox>
#include <QDir>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWindow>

#include <algorithm>

namespace {

// The colours of the dialog that the theme does not carry as named roles.
struct DialogColors
{
    QColor background;
    QColor field; // line-edit fill
    QColor noticeFill;
    QColor noticeBorder;
    QColor noticeGlyph;
    QColor iconBoxFill;
    QString closeGlyph;
    QString noticeClose;
    QString noticeCloseHover;
};

DialogColors dialogColors(bool dark)
{
    if (dark)
        return {QColor(42, 46, 56),        QColor(QStringLiteral("#1F232B")),
                QColor(30, 58, 95),        QColor(46, 90, 140),
                QColor(157, 193, 255),     QColor(51, 56, 68),
                QStringLiteral("#C8CCD4"), QStringLiteral("#9DC1FF"),
                QStringLiteral("#CDE3FF")};
    return {Qt::white,
            Qt::white,
            QColor(234, 242, 252),
            QColor(201, 228, 251),
            QColor(26, 95, 180),
            QColor(242, 244, 248),
            QStringLiteral("#5A5A5A"),
            QStringLiteral("#1A5FB4"),
            QStringLiteral("#0B4A8F")};
}

// A rectangle from inclusive left, top, right and bottom.
QRect ltrb(int l, int t, int r, int b)
{
    return QRect(QPoint(l, t), QPoint(r, b));
}

// The style sheet fills the checked indicator with the accent colour only; the tick on top is painted here,
// so "on" reads as on and not as a coloured square.
class TickCheckBox : public QCheckBox
{
public:
    using QCheckBox::QCheckBox;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QCheckBox::paintEvent(event);
        if (!isChecked())
            return;
        QStyleOptionButton opt;
        initStyleOption(&opt);
        const QRectF r = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &opt, this);
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPen pen(Qt::white, 2.0);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        p.setPen(pen);
        QPainterPath tick;
        tick.moveTo(r.left() + r.width() * 0.24, r.top() + r.height() * 0.52);
        tick.lineTo(r.left() + r.width() * 0.43, r.top() + r.height() * 0.70);
        tick.lineTo(r.left() + r.width() * 0.76, r.top() + r.height() * 0.32);
        p.drawPath(tick);
    }
};

QPushButton* makeButton(const QString& text, QWidget* parent, const char* objectName)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(objectName));
    // Enter in a field must confirm the dialog, not press whichever button comes first in the focus chain.
    b->setAutoDefault(false);
    return b;
}

QLineEdit* makeEdit(QWidget* parent, const char* objectName)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(objectName));
    return e;
}

} // namespace

ShortcutEditDialog::ShortcutEditDialog(const QString& itemPath, const QString& name, bool isLink,
                                       const ShortcutInfo& info, const QPixmap& icon, QWidget* parent)
    : QDialog(parent), m_itemPath(itemPath), m_isLink(isLink), m_info(info), m_preview(icon)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    keepOnScreen(this);
    followCompositing(this, [] { return dialogColors(currentTheme().isDark).background; });
    setModal(true);
    setWindowTitle(Lang::tr("编辑快捷方式"));
    if (m_preview.isNull())
        m_preview = loadIconPixmap(m_itemPath);

    // Created in tab order.
    m_nameEdit = makeEdit(this, "nameEdit");
    m_nameEdit->setText(name);
    m_nameEdit->selectAll();
    m_changeIconButton = makeButton(Lang::tr("更改图标"), this, "changeIconButton");
    m_restoreIconButton = makeButton(Lang::tr("还原图标"), this, "restoreIconButton");
    m_targetEdit = makeEdit(this, "targetEdit");
    m_targetEdit->setText(m_isLink ? m_info.target : m_itemPath);
    m_browseTargetButton = makeButton(Lang::tr("选择文件"), this, "browseTargetButton");
    m_workingDirEdit = makeEdit(this, "workingDirEdit");
    m_workingDirEdit->setText(m_info.workingDir);
    m_workingDirEdit->setPlaceholderText(Lang::tr("可选，如无需要留空即可。"));
    m_browseWorkingDirButton = makeButton(Lang::tr("选择文件夹"), this, "browseWorkingDirButton");
    m_argumentsEdit = makeEdit(this, "argumentsEdit");
    // Shown quoted as a desktop entry's Exec line quotes them (the form a Linux user reads and types).
    m_shownArguments = execQuotedArguments(m_info.arguments);
    m_argumentsEdit->setText(m_shownArguments);
    m_argumentsEdit->setPlaceholderText(Lang::tr("可选，如无需要留空即可。"));
    m_runAsAdmin = new TickCheckBox(Lang::tr("优先以管理员权限运行"), this);
    m_runAsAdmin->setObjectName(QStringLiteral("runAsAdminCheck"));
    m_runAsAdmin->setChecked(m_info.runAsAdmin);
    m_okButton = makeButton(Lang::tr("确定"), this, "okButton");
    m_okButton->setDefault(true);
    m_cancelButton = makeButton(Lang::tr("取消"), this, "cancelButton");
    m_noticeCloseButton = makeButton(QStringLiteral("×"), this, "noticeCloseButton");
    m_noticeCloseButton->setCursor(Qt::PointingHandCursor);
    m_noticeCloseButton->setFocusPolicy(Qt::NoFocus);
    m_closeButton = makeButton(QStringLiteral("×"), this, "closeButton");
    m_closeButton->setCursor(Qt::PointingHandCursor);
    m_closeButton->setFocusPolicy(Qt::NoFocus);

    applyStyles();

    connect(m_changeIconButton, &QPushButton::clicked, this, &ShortcutEditDialog::chooseIcon);
    connect(m_restoreIconButton, &QPushButton::clicked, this, &ShortcutEditDialog::restoreIcon);
    connect(m_browseTargetButton, &QPushButton::clicked, this, &ShortcutEditDialog::browseTarget);
    connect(m_browseWorkingDirButton, &QPushButton::clicked, this, &ShortcutEditDialog::browseWorkingDir);
    connect(m_okButton, &QPushButton::clicked, this, &ShortcutEditDialog::confirm);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_noticeCloseButton, &QPushButton::clicked, this, &ShortcutEditDialog::dismissNotice);

    setFixedSize(kWidth, kHeight);
    layoutChildren();
}

QString ShortcutEditDialog::name() const
{
    return m_nameEdit->text().trimmed();
}

ShortcutInfo ShortcutEditDialog::result() const
{
    ShortcutInfo out = m_info;
    out.target = m_targetEdit->text().trimmed();
    out.workingDir = m_workingDirEdit->text().trimmed();
    // Untouched arguments come back exactly as passed in, so an unchanged entry is not rewritten.
    const QString typed = m_argumentsEdit->text();
    // Typed text that means the same arguments under both quoting rules is kept as typed; otherwise it is
    // rewritten into the command-line form entries store.
    if (typed == m_shownArguments)
        out.arguments = m_info.arguments;
    else {
        const QString converted = commandLineFromExecQuoted(typed);
        out.arguments = QProcess::splitCommand(typed) == QProcess::splitCommand(converted) ? typed : converted;
    }
    out.runAsAdmin = m_runAsAdmin->isChecked();
    return out;
}

void ShortcutEditDialog::applyStyles()
{
    const Theme& t = currentTheme();
    const Theme& d = dialogPalette();
    const DialogColors c = dialogColors(t.isDark);
    const QString font = uiFontFamily();
    const QString text = d.text.name();

    const QString edit = QStringLiteral("QLineEdit{border:1px solid %1;border-radius:6px;padding:4px 10px;"
                                        "background:%6;color:%2;font-size:13px;font-family:'%3';"
                                        "selection-background-color:%4;}QLineEdit:focus{border:1px solid %5;}")
                             .arg(t.controlBorder.name(), text, font, t.accent.name(), t.accent.name(), c.field.name());
    for (QLineEdit* e : {m_nameEdit, m_targetEdit, m_workingDirEdit, m_argumentsEdit}) {
        e->setStyleSheet(edit);
        // Qt 6.4 style sheets have no placeholder colour: take a dimmed text colour so it reads on both fills.
        QPalette pal = e->palette();
        pal.setColor(QPalette::PlaceholderText, d.mutedText);
        e->setPalette(pal);
    }

    const QString bordered = QStringLiteral("QPushButton{border:1px solid %1;border-radius:6px;background:%2;"
                                            "color:%3;font-size:12px;font-family:'%4';padding:0 8px;}"
                                            "QPushButton:hover{background:%5;border:1px solid %6;}"
                                            "QPushButton:pressed{background:%7;}")
                                 .arg(t.controlBorder.name(), t.cardBackground.name(), text, font,
                                      t.activeBackground.name(), t.accent.name(), t.accentSoft.name());
    for (QPushButton* b :
         {m_changeIconButton, m_restoreIconButton, m_browseTargetButton, m_browseWorkingDirButton, m_cancelButton})
        b->setStyleSheet(bordered);

    m_okButton->setStyleSheet(QStringLiteral("QPushButton{border:none;border-radius:6px;background:%1;color:#FFFFFF;"
                                             "font-size:13px;font-family:'%2';padding:0 10px;}"
                                             "QPushButton:hover{background:%3;}QPushButton:pressed{background:%4;}")
                                  .arg(t.accent.name(), font, t.accentHover.name(), t.accent.darker(112).name()));

    m_runAsAdmin->setStyleSheet(
        QStringLiteral("QCheckBox{color:%1;font-size:13px;font-family:'%2';spacing:8px;}"
                       "QCheckBox::indicator{width:16px;height:16px;}"
                       "QCheckBox::indicator:checked{background:%3;border-radius:3px;}"
                       "QCheckBox::indicator:unchecked{background:%4;border:1px solid %5;border-radius:3px;}")
            .arg(text, font, t.accent.name(), c.field.name(), t.controlBorder.name()));

    m_closeButton->setStyleSheet(QStringLiteral("QPushButton{border:none;background:transparent;color:%1;"
                                                "font-size:18px;font-family:'%2';}"
                                                "QPushButton:hover{color:#E81123;}")
                                     .arg(c.closeGlyph, font));
}

void ShortcutEditDialog::layoutChildren()
{
    const int w = width();
    const int h = height();
    const int dy = m_noticeDismissed ? -kNoticeHeight : 0;
    const DialogColors c = dialogColors(currentTheme().isDark);

    m_noticeRect = ltrb(20, 56, w - 21, 95);
    if (m_noticeDismissed) {
        m_noticeCloseButton->hide();
    } else {
        m_noticeCloseButton->setStyleSheet(QStringLiteral("QPushButton{border:none;background:transparent;color:%1;"
                                                          "font-size:16px;font-family:'%2';}"
                                                          "QPushButton:hover{color:%3;}")
                                               .arg(c.noticeClose, uiFontFamily(), c.noticeCloseHover));
        m_noticeCloseButton->setGeometry(ltrb(w - 47, 65, w - 26, 86));
        m_noticeCloseButton->show();
    }

    m_iconBox = ltrb(20, 114 + dy, 67, 161 + dy);
    m_nameEdit->setGeometry(ltrb(82, 121 + dy, w - 21, 154 + dy));
    const int k = (w - 114) / 2;
    m_changeIconButton->setGeometry(ltrb(82, 170 + dy, k + 81, 199 + dy));
    m_restoreIconButton->setGeometry(ltrb(k + 94, 170 + dy, 2 * k + 93, 199 + dy));
    m_closeButton->setGeometry(ltrb(w - 40, 8, w - 11, 35));

    // The browse buttons are 84 px wide, wider when a translation needs it (text, padding and border), so
    // their captions are never cut; both keep one width and their right edge.
    QFont buttonFont(uiFontFamily());
    buttonFont.setPixelSize(12);
    const QFontMetrics fm(buttonFont);
    const int browseWidth = std::max({84, fm.horizontalAdvance(m_browseTargetButton->text()) + 20,
                                      fm.horizontalAdvance(m_browseWorkingDirButton->text()) + 20});
    const int browseLeft = w - 20 - browseWidth;

    m_targetLabelAnchor = QPoint(20, 216 + dy);
    m_browseTargetButton->setGeometry(ltrb(browseLeft, 216 + dy, w - 21, 249 + dy));
    m_targetEdit->setGeometry(ltrb(20, 258 + dy, w - 21, 291 + dy));
    m_workingDirLabelAnchor = QPoint(20, 304 + dy);
    m_browseWorkingDirButton->setGeometry(ltrb(browseLeft, 304 + dy, w - 21, 337 + dy));
    m_workingDirEdit->setGeometry(ltrb(20, 346 + dy, w - 21, 379 + dy));
    m_argumentsLabelAnchor = QPoint(20, 392 + dy);
    m_argumentsEdit->setGeometry(ltrb(20, 434 + dy, w - 21, 467 + dy));
    m_runAsAdmin->setGeometry(ltrb(20, 480 + dy, w - 21, 507 + dy));

    m_okButton->setGeometry(ltrb(w - 208, h - 52, w - 121, h - 17));
    m_cancelButton->setGeometry(ltrb(w - 108, h - 52, w - 21, h - 17));
}

void ShortcutEditDialog::paintEvent(QPaintEvent*)
{
    const Theme& t = currentTheme();
    const Theme& d = dialogPalette();
    const DialogColors c = dialogColors(t.isDark);
    const int w = width();
    const int h = height();
    const QString family = uiFontFamily();

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    const qreal radius = windowCornerRadius(std::max(4, themeCornerRadius()));
    p.setPen(QPen(t.border, 1));
    p.setBrush(c.background);
    p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), radius, radius);

    QFont title(family);
    title.setPixelSize(15);
    title.setWeight(QFont::Bold);
    p.setFont(title);
    p.setPen(d.text);
    p.drawText(ltrb(20, 14, w - 21, 39), Qt::AlignLeft | Qt::AlignVCenter, Lang::tr("编辑快捷方式"));

    QFont small(family);
    small.setPixelSize(12);

    if (!m_noticeDismissed) {
        const QRect r = m_noticeRect;
        p.setPen(QPen(c.noticeBorder, 1));
        p.setBrush(c.noticeFill);
        p.drawRoundedRect(r, 8, 8);

        const int cy = r.top() + r.height() / 2;
        const qreal cx = r.left() + 20;
        p.setPen(QPen(c.noticeGlyph, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(ltrb(r.left() + 11, cy - 9, r.left() + 28, cy + 8));
        p.setPen(Qt::NoPen);
        p.setBrush(c.noticeGlyph);
        p.drawRect(QRect(int(cx - 1.4), int(cy - 5.9), 2, 2));
        p.setPen(QPen(c.noticeGlyph, 2));
        p.drawLine(QPoint(int(cx), int(cy - 0.9)), QPoint(int(cx), int(cy + 4.5)));

        p.setFont(small);
        p.setPen(d.textSecondary);
        // Two lines fit in the strip: a longer translation wraps instead of running under the close button.
        p.drawText(ltrb(r.left() + 40, r.top(), r.right() - 28, r.bottom()),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
                   Lang::tr("请通过应用库添加应用，而非手动编辑快捷方式。"));
    }

    {
        QPainterPath box;
        box.addRoundedRect(QRectF(m_iconBox), 8, 8);
        p.save();
        p.setClipPath(box);
        p.fillRect(m_iconBox, c.iconBoxFill);
        if (!m_preview.isNull()) {
            const QSize inner(m_iconBox.width() - 8, m_iconBox.height() - 8);
            const QPixmap scaled =
                m_preview.scaled(inner * m_preview.devicePixelRatio(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
            const QSize logical = scaled.size() / std::max<qreal>(1.0, m_preview.devicePixelRatio());
            const QPoint at(m_iconBox.left() + (m_iconBox.width() - logical.width()) / 2,
                            m_iconBox.top() + (m_iconBox.height() - logical.height()) / 2);
            p.drawPixmap(QRect(at, logical), scaled);
        }
        p.restore();
        p.setPen(QPen(t.controlBorder, 1));
        p.setBrush(Qt::NoBrush);
        p.drawPath(box);
    }

    p.setFont(small);
    p.setPen(d.textSecondary);
    const QPoint baseline(0, 12);
    p.drawText(m_targetLabelAnchor + baseline, Lang::tr("目标"));
    p.drawText(m_workingDirLabelAnchor + baseline, Lang::tr("工作目录"));
    p.drawText(m_argumentsLabelAnchor + baseline, Lang::tr("参数"));
}

void ShortcutEditDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    layoutChildren();
}

void ShortcutEditDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    layoutChildren();
}

void ShortcutEditDialog::confirm()
{
    if (name().isEmpty()) {
        m_nameEdit->setFocus(Qt::OtherFocusReason);
        return;
    }
    accept();
}

void ShortcutEditDialog::setIconFromFile(const QString& path)
{
    QPixmap pm(path);
    if (pm.isNull())
        pm = loadIconPixmap(path);
    if (!pm.isNull()) {
        m_preview = pm;
        update();
    }
}

void ShortcutEditDialog::chooseIcon()
{
    const QString file = ktr::dialogs::openFile(this, Lang::tr("选择图标图片"), QString(),
                                                Lang::tr("图标图片 (*.png *.jpg *.jpeg *.bmp *.gif *.ico *.webp);;"
                                                         "所有文件 (*)"));
    if (file.isEmpty())
        return;
    setIconFromFile(file);
    m_iconChoice = IconFromFile;
    m_chosenIconPath = QDir::toNativeSeparators(file);
}

void ShortcutEditDialog::restoreIcon()
{
    m_preview = loadIconPixmap(m_itemPath);
    update();
    m_iconChoice = IconRestored;
    m_chosenIconPath.clear();
}

void ShortcutEditDialog::browseTarget()
{
    const QString file = ktr::dialogs::openFile(this, Lang::tr("选择文件"), QString(), Lang::tr("所有文件 (*.*)"));
    if (!file.isEmpty())
        m_targetEdit->setText(QDir::toNativeSeparators(file));
}

void ShortcutEditDialog::browseWorkingDir()
{
    const QString dir = ktr::dialogs::chooseFolder(this, Lang::tr("选择文件夹..."), QString());
    if (!dir.isEmpty())
        m_workingDirEdit->setText(QDir::toNativeSeparators(dir));
}

void ShortcutEditDialog::dismissNotice()
{
    if (m_noticeDismissed)
        return;
    m_noticeDismissed = true;
    setFixedSize(kWidth, kHeight - kNoticeHeight);
    layoutChildren();
    update();
}

void ShortcutEditDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || childAt(event->position().toPoint())) {
        QDialog::mousePressEvent(event);
        return;
    }
    if (windowHandle() && windowHandle()->startSystemMove()) {
        event->accept();
        return;
    }
    m_dragging = true;
    m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    event->accept();
}

void ShortcutEditDialog::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        event->accept();
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void ShortcutEditDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_dragging && event->button() == Qt::LeftButton) {
        m_dragging = false;
        event->accept();
        return;
    }
    QDialog::mouseReleaseEvent(event);
}
