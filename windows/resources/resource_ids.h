// Resource ids shared by the templates and the code.
#pragma once

#define IDD_ERROR_DIALOG 101
#define IDC_ERROR_TEXT 1000
#define IDC_ERROR_LABEL 1001

#define IDD_PROGRESS_DIALOG 103
#define IDD_QUESTION_DIALOG 104
#define IDI_APPLICATION_ICON 1001  // supplied with the setup program's resources
#define IDC_PROGRESS_BAR 1001
#define IDC_STATUS_TEXT 1002
#define IDC_MAIN_TEXT 1003
#define IDC_DOWNLOAD_BUTTON 1004
#define IDC_LOCATE_BUTTON 1005
