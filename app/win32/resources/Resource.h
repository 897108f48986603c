// Resource and control identifiers, shared by the resource script and the
// window code. Plain #defines because the resource compiler reads this file.
#pragma once

#define IDR_MAINFRAME 128            // icon
#define IDD_TRAYHOP32_DIALOG 102     // main window template
#define IDD_ABOUTBOX 109             // About box template
#define IDS_ABOUTBOX 101             // system-menu text of the About item
#define IDR_ACCELERATOR 2425         // the refresh key table

#define IDC_DRIVE_LIST 2001
#define IDC_REMOVE_DEVICES 2002
#define IDC_SCAN_FOR_DEVICES 2003
#define IDC_CONFIGURE 2004
#define IDC_STATUS 2008
#define IDC_ABOUT 2010
#define ID_HELP 57670                // 0xE146, the "&Help..." button and F1
#define ID_REFRESH 32771             // F5
#define IDM_ABOUTBOX 0x0010          // system-menu command of the About item

#define IDC_ABOUT_ICON 1000
#define IDC_ABOUT_TEXT 1001

// Help contexts are 0x20000 plus the dialog's template number.
#define HELP_CONTEXT_BASE 0x20000
