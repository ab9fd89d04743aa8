// Control ids of the skin gallery: the installer window's ids where the gallery shows the
// same control, 2000 and up for the extra controls the tests need.
#pragma once

#define IDD_GALLERY 129
#define IDC_PROGRESS 1000
#define IDC_PROGRESS_TEXT 1007
#define IDC_STEP_WELCOME 1008
#define IDC_STEP_FINISH 1009
#define IDC_STEP_INSTALL 1010
#define IDC_INSTALL 1011
#define IDC_PICTURE 1012
#define IDC_ACCEPT 1013
#define IDC_DIR_EDIT 1014
#define IDC_BROWSE 1015
#define IDC_BOOT 1016
#define IDC_RUN 1017
#define IDC_PROGRESS_LABEL 1018
#define IDC_LICENCE_LINK 1020
#define IDC_CLOSE 1021
#define IDC_MINIMISE 1022
#define IDC_TITLE_AREA 1023
#define IDC_START 1024
#define IDC_DISABLED_BUTTON 2001
#define IDC_DISABLED_CHECKED 2002
#define IDC_DISABLED_UNCHECKED 2003
#define IDC_CHANGING_LABEL 2004
#define IDC_CHANGE_TEXT 2005
#define IDC_DISABLED_LABEL 2006
