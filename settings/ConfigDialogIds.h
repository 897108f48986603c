// Identifiers of the Configuration dialog, shared by its resource script and
// the code. Plain #defines because the resource compiler reads this file.
#pragma once

#define IDD_CONFIGURATION 2426

// The check boxes, in tab order.
#define IDC_SHOW_BOOT_DRIVE 2032
#define IDC_SHOW_PAGE_DRIVES 2033
#define IDC_SHOW_CDROM 2034
#define IDC_SHOW_TAPE 2035
#define IDC_SHOW_IDE 2036
#define IDC_SHOW_ATAPI 2037
#define IDC_SHOW_USB 2038
#define IDC_SHOW_1394 2039
#define IDC_SHOW_SCSI 2040
#define IDC_SHOW_SSA 2041
#define IDC_SHOW_FIBRE 2042
#define IDC_SHOW_RAID 2043

// 0x20000 plus the template number.
#define CONFIGURATION_HELP_CONTEXT 0x2097A
