#pragma once
// Resource ids shared by the resource scripts and the code.
#define IDI_APPLICATION_ICON 101
#define IDD_PROGRESS 102
#define IDC_ABORT 1000
#define IDC_STATUS 1001
#define IDC_FILE_PROGRESS 1002
#define IDC_TOTAL_PROGRESS 1003
