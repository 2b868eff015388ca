// Resource ids shared by the templates and the code.
#pragma once

#define IDD_ERROR_DIALOG 101
#define IDC_ERROR_TEXT 1000
#define IDC_ERROR_LABEL 1001
