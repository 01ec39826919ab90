// The pictures the panels name, with the frame size and count each must
// have. Written from the panels' needs, not from the skin generator's list,
// so the tests catch a generator that drifts.
#pragma once

#include <iterator>

namespace qtest {

struct SkinRow {
    const char* path;
    int width; // frame width
    int height; // frame height
    int frames;
};

inline const SkinRow kSkins[] = {
    {":/images/cbtn_seldevice.png", 110, 66, 3},
    {":/images/ind_mode_blank.png", 98, 18, 2},
    {":/images/ind_mode_virtual.png", 98, 18, 2},
    {":/images/ind_mode_disconnected.png", 98, 18, 2},
    {":/images/ind_mode_connecting.png", 98, 18, 2},
    {":/images/ind_mode_connected.png", 98, 18, 2},
    {":/images/ind_mode_conflict.png", 98, 18, 2},
    {":/images/ind_mode_duplicated.png", 98, 18, 2},
    {":/images/bg_SelDevArea_24.png", 114, 1776, 1},
    {":/images/bg_Right.png", 752, 594, 1},
    {":/images/bg_dev_area.png", 752, 543, 1},
    {":/images/bg_DispArea.png", 752, 51, 1},
    {":common/images/bg_dev_txt_SYNC.png", 49, 26, 1},
    {":common/images/bg_dev_txt_SYSTEM.png", 49, 26, 1},
    {":common/images/ind_dev_led_circle_green", 16, 16, 2},
    {":common/images/ind_dev_led_circle_green.png", 16, 16, 2},
    {":common/images/ind_dev_led_circle_yellow.png", 16, 16, 2},
    {":common/images/ind_dev_led_circle_red.png", 16, 16, 2},
    {":common/images/ind_icon_alert.png", 14, 13, 1},
    {":common/images/ind_icon_info.png", 14, 13, 1},
    {":display/images/meter_base.png", 9, 45, 1},
    {":display/images/meter_value.png", 5, 41, 1},
    {":display/images/meter_scale.png", 5, 45, 1},
    {":brox/images/meter_base.png", 9, 45, 1},
    {":brox/images/meter_value.png", 5, 41, 1},
    {":brox/images/knob_white.png", 42, 42, 101},
    {":brox/images/knob_green.png", 42, 42, 101},
    {":brox/images/bg_textbox.png", 52, 16, 1},
    {":brox/images/tbtn_+48V.png", 56, 20, 4},
    {":brox/images/tbtn_HPF.png", 56, 20, 4},
    {":brox/images/tbtn_delay.png", 56, 20, 4},
    {":brox/images/tbtn_GC.png", 56, 20, 4},
    {":brox/images/tbtn_phase.png", 56, 20, 4},
    {":brox/images/tbtn_PEAKHOLD.png", 96, 20, 4},
    {":brox/images/tbtn_input.png", 90, 18, 4},
    {":brox/images/tbtn_output.png", 90, 18, 4},
    {":brox/images/ind_+48V.png", 28, 14, 2},
    {":brox/images/bg_dev_Brox_txt_+48V.png", 98, 10, 1},
    {":brox/images/bg_dev_Brox_txt_+48V_active.png", 98, 10, 1},
    {":brox/images/bg_dev_BroxLD.png", 752, 543, 1},
    {":brox/images/bg_dev_BroxMD.png", 752, 543, 1},
    {":brox/images/bg_dev_BroxID.png", 752, 543, 1},
    {":brox/images/bg_dev_BroxOD.png", 752, 543, 1},
    {":brox/images/bg_dev_BroxLD3Output.png", 752, 543, 1},
    {":brox/images/tab_edit.png", 138, 30, 3},
    {":brox/images/bg_edit_device.png", 604, 394, 1},
    {":brox/images/bg_edit_output.png", 604, 394, 1},
    {":brox/images/bg_edit_device_output.png", 604, 394, 1},
    {":brox/images/bg_delayscale_output.png", 554, 130, 1},
    {":brox/images/tbtn_meter.png", 48, 18, 4},
    {":brox/images/tbtn_feet.png", 48, 18, 4},
    {":brox/images/tbtn_sample.png", 48, 18, 4},
    {":brox/images/tbtn_msec.png", 48, 18, 4},
    {":brox/images/tbtn_frame.png", 48, 18, 4},
    {":brox/images/tbtn_impedance.png", 48, 18, 2},
    {":mavik/images/bg_dev_MavikD.png", 750, 410, 1},
    {":mavik/images/btn_SW.png", 96, 20, 4},
    {":mavik/images/ind_dev_circle_green.png", 16, 16, 2},
    {":sorn/images/bg_dev_SornD.png", 750, 410, 1},
    {":sorn/images/btn_SW.png", 96, 20, 4},
    {":sorn/images/ind_dev_led_circle_green.png", 16, 16, 2},
    {":sorn/images/ind_dev_led_circle_yellow.png", 16, 16, 2},
    {":sorn/images/ind_dev_led_circle_green_red_x2.png", 16, 16, 5},
    {":sorn/images/ind_dev_led_circle_red_green.png", 16, 16, 3},
    {":sorn/images/cbtn_black.png", 165, 25, 2},
    {":sorn/images/cbtn_gray.png", 165, 25, 2},
    {":sorn/images/txt_input.png", 44, 16, 1},
    {":sorn/images/txt_output.png", 58, 16, 1},
    {":sorn/images/bg_patch_ball.png", 10, 10, 1},
    {":sorn/images/bg_InputName.png", 1940, 15, 1},
    {":sorn/images/bg_InputPatchNo_default.png", 1940, 14, 1},
    {":sorn/images/bg_InputPatchNo_Sel.png", 1940, 14, 1},
    {":sorn/images/bg_OutputName.png", 60, 1940, 1},
    {":sorn/images/bg_OutputPatchNo_default.png", 14, 1940, 1},
    {":sorn/images/bg_OutputPatchNo_Sel.png", 14, 1940, 1},
};

} // namespace qtest
