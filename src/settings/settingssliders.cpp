#include "settings/settingssliders.h"

#include "settings/sliderwidget.h"
#include "ui/settingsschema.h"

namespace {

using S = AppSettings;
using K = SliderWidget::Kind;

const SliderSpec kSliders[] = {
    {0, &S::iconSize, K::Pixels, true},
    {1, &S::iconSizePortrait, K::Pixels, true},
    {2, &S::cornerRadius, K::Pixels, true},
    {3, &S::opacity, K::Percent, true},
    {4, &S::snapRevealPx, K::Pixels, true},
    {5, &S::titleBarOpacity, K::Percent, true},
    {6, &S::bottomBarOpacity, K::Percent, true},
    {7, &S::midOpacity, K::Percent, true},
    {8, &S::bgImageOpacity, K::Percent, true},
    {9, &S::bgImageOpacityPortrait, K::Percent, true},
    {10, &S::borderOpacity, K::Percent, true},
    {11, &S::dividerWidth, K::Pixels, true},
    {12, &S::dividerOpacity, K::Percent, true},
    {13, &S::hoverOpacity, K::Percent, true},
    {14, &S::textOpacity, K::Percent, true},
    // The recorder reads these when it starts; they reach the panel with OK.
    {15, &S::monitorMaxMB, K::Megabytes, false},
    {16, &S::monitorIdleSec, K::Seconds, false},
    {17, &S::monitorFps, K::Fps, false},
};

const settingsschema::IntKey& schemaOf(const SliderSpec& spec)
{
    // Every slider edits a clamped field of the schema (checked by the slider table test).
    return *settingsschema::intKey(spec.member);
}

} // namespace

const char* SliderSpec::key() const
{
    return schemaOf(*this).key;
}

int SliderSpec::minimum() const
{
    return schemaOf(*this).min;
}

int SliderSpec::maximum() const
{
    return schemaOf(*this).max;
}

const SliderSpec* sliderSpec(int index)
{
    return index >= 0 && index < SettingsSliders::kCount ? &kSliders[index] : nullptr;
}

SettingsSliders::SettingsSliders(QWidget* parent, AppSettings* copy,
                                 std::function<void(const AppSettings&)> onLiveChange, std::function<void()> onChanged)
    : QObject(parent), m_copy(copy), m_onLiveChange(std::move(onLiveChange)), m_onChanged(std::move(onChanged))
{
    for (const SliderSpec& spec : kSliders) {
        auto* slider = new SliderWidget(parent);
        slider->setObjectName(QStringLiteral("slider%1").arg(spec.index));
        slider->setRange(spec.minimum(), spec.maximum());
        slider->setKind(spec.kind);
        slider->setValue(m_copy->*spec.member, false);
        slider->hide();
        connect(slider, &SliderWidget::valueChanged, this, [this, spec](int v) {
            m_copy->*spec.member = v;
            if (spec.live && m_onLiveChange)
                m_onLiveChange(*m_copy);
            if (m_onChanged)
                m_onChanged();
        });
        m_sliders[size_t(spec.index)] = slider;
    }
}

SliderWidget* SettingsSliders::sliderForKey(int key) const
{
    return key >= 0 && key < kCount ? m_sliders[size_t(key)] : nullptr;
}

void SettingsSliders::reloadValues()
{
    for (const SliderSpec& spec : kSliders)
        m_sliders[size_t(spec.index)]->setValue(m_copy->*spec.member, false);
}

void SettingsSliders::hideAll()
{
    for (SliderWidget* s : m_sliders)
        s->hide();
}
