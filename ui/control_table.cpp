#include "ui/control_table.h"

const ControlRow kControls[kControlCount] = {
    {ControlRole::Label, "STATIC", "Частота воздействия:", 5, 5, 150, 15, 0},
    {ControlRole::FrequencyDisplay, "EDIT", kInitialFrequencyText.data(), 160, 5, 40, 15, 0},
    {ControlRole::Label, "STATIC", "Гц", 201, 5, 20, 15, 0},
    {ControlRole::Slider, "msctls_trackbar32", "", 242, 5, 250, 15, kSliderId},
    {ControlRole::Arrows, "msctls_updown32", "", 222, 5, 10, 15, kArrowsId},
    {ControlRole::Label, "STATIC", "Звуковое воздействие:", 5, 33, 160, 15, 0},
    {ControlRole::Label, "STATIC", "Зрительное воздействие:", 5, 63, 175, 15, 0},
    {ControlRole::Label, "STATIC", "www.zarvelin.org", 5, 102, 160, 15, 0},
    {ControlRole::Label, "STATIC", "версия 04.2004", 380, 102, 105, 15, 0},
    {ControlRole::SoundList, "COMBOBOX", "", 185, 30, 305, 105, 0},
    {ControlRole::VisualList, "COMBOBOX", "", 185, 60, 305, 105, 0},
    {ControlRole::StartButton, "BUTTON", "Запуск", 215, 95, 70, 30, kStartButtonId},
};

const char* const* listCaptions(ControlRole role, int* count)
{
    if (role == ControlRole::SoundList) {
        *count = kSoundModeCount;
        return kSoundModeCaptions;
    }
    if (role == ControlRole::VisualList) {
        *count = kVisualModeCount;
        return kVisualModeCaptions;
    }
    *count = 0;
    return nullptr;
}
