// Identifiers shared by the resource script and the Win32 views.
#pragma once

#define IDI_MAIN 1

#define IDD_MONITOR 100
#define IDD_SETTINGS 101

#define IDC_PAGES 1000
#define IDC_MMOLOG 1001
#define IDC_BBNSTART 1002
#define IDC_BBNSTOP 1003
#define IDC_BITBTN2 1004
#define IDC_BBCLOSE 1005
