#pragma once
// Resource ids of the installer's icon, dialog templates and controls. Plain macros, so that
// both the resource compiler and the C++ code read them.

#define IDI_VORLATCH 128

// Dialog templates.
#define IDD_ABOUT 100
#define IDD_DESTINATION 129
#define IDD_CONFIRM 132
#define IDD_PROGRESS 135
#define IDD_PASSWORD 136
#define IDD_LICENCE 143

// Controls without an id of their own.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Destination dialog (129).
#define IDC_DESTINATION_PATH 1007
#define IDC_BROWSE 1008
#define IDC_NEXT 1010
#define IDC_ABOUT 1017
#define IDC_DESTINATION_NOTE 1029
// The maker's link: the icon of the destination dialog and the name in the About box.
#define IDC_HOME_LINK 1031

// Confirmation dialog (132): the two answers for all later cases, and the message.
#define IDYESTOALL 1013
#define IDNOTOALL 1014
#define IDC_CONFIRM_TEXT 1015

// Progress window (135).
#define IDC_PROGRESS_TEXT 1018
#define IDC_PROGRESS_BAR 1037

// Password dialog (136).
#define IDC_PASSWORD 1019

// About box (100).
#define IDC_ZLIB_LINK 1021
#define IDC_CREATED_BY 1030

// Information and licence dialog (143).
#define IDC_LICENCE_TEXT 1032
#define IDC_LICENCE_ICON 1033
#define IDC_LICENCE_RIGHT_BUTTON 1034
#define IDC_LICENCE_LEFT_BUTTON 1035
#define IDC_LICENCE_FOOTER 1036
