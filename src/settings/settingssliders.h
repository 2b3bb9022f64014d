#pragma once

#include "ui/appsettings.h"

#include <QObject>

#include <array>
#include <functional>
#include <span>

class QWidget;
class SliderWidget;

// The eighteen sliders of the settings pages: which field each edits, its unit and whether a move is
// applied to the panel at once. The range of each is the field's range in the settings schema.
struct SliderSpec
{
    int index;
    int AppSettings::*member;
    int kind; // SliderWidget::Kind
    bool live;

    const char* key() const;
    int minimum() const;
    int maximum() const;
};

const SliderSpec* sliderSpec(int index);

// The settings dialog's slider widgets, one per index 0..17, created hidden on the parent. A move stores
// the value into the edited copy, hands the copy to onLiveChange when the slider is live (the recorder's
// MB, seconds and fps are kept for OK), and calls onChanged (the dialog repaints).
class SettingsSliders : public QObject
{
    Q_OBJECT
public:
    static constexpr int kCount = 18;

    SettingsSliders(QWidget* parent, AppSettings* copy, std::function<void(const AppSettings&)> onLiveChange,
                    std::function<void()> onChanged);

    // The slider of an index 0..17; nullptr for any other.
    SliderWidget* sliderForKey(int key) const;
    // Sets every slider from the copy without signalling (after the copy was replaced).
    void reloadValues();
    void hideAll();

private:
    AppSettings* m_copy;
    std::function<void(const AppSettings&)> m_onLiveChange;
    std::function<void()> m_onChanged;
    std::array<SliderWidget*, kCount> m_sliders{};
};
