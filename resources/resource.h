// Resource identifiers of the launcher (shared by the .rc script and the code).
#pragma once

#define IDR_MAINFRAME 128
#define IDD_KVOLAUNCHER_DIALOG 102
#define IDS_ABOUTBOX 101
#define IDM_ABOUTBOX 0x0010

#define IDC_LBL_PROGRESS 1002
#define IDC_LBL_FILENAME 1005
#define IDC_LBL_SPARE 1006

#include "update/UpdateKeyResource.h"

#define IDR_PNG_BACKGROUND "DOWN_LOAD_BK"
#define IDR_PNG_SCALE "DOWN_LOAD_SCALE"
