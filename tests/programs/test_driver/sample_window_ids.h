// Resource and control ids of the driver's sample window (shared with its .rc file).
#pragma once

#define IDD_SAMPLE 1
#define IDC_GREETING 100
#define IDC_SHOW_MESSAGE 101
#define IDC_START_AT_BOOT 102
#define IDC_RESULT 103
#define IDC_GLYPH_PROBE 104
#define IDC_NAME_EDIT 105
#define IDC_MOUSE_AT 106
#define IDC_GUI_FONT_PROBE 107
#define IDC_CAPTION_FONT_PROBE 108
