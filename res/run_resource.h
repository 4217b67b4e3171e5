// Identifiers of the run controller's resources (2000 and up; resource.h keeps 1-1999).
#pragma once

// Tray images: imlIcons 0 (stopped) and 1 (running).
#define IDI_TRAY_STOPPED 2000
#define IDI_TRAY_RUNNING 2001

// The tray icon's pop-up menu.
#define IDM_TRAY 2010
#define IDM_TRAY_SHOW 2011
#define IDM_TRAY_ABOUT 2012
#define IDM_TRAY_EXIT 2013

// TPasswordDlg.
#define IDD_PASSWORD 2030
#define IDC_PASSWORD_LABEL 2031
#define IDC_PASSWORD_EDIT 2032

// The about box.
#define IDD_ABOUT 2040
#define IDC_ABOUT_ICON 2041
#define IDC_ABOUT_PRODUCT 2042
#define IDC_ABOUT_VERSION 2043

// TfrmSimulate.
#define IDD_SIMULATE 2050
#define IDC_SIMULATE_TAG_LABEL 2051
#define IDC_LBLOPCTAG 2052
#define IDC_SIMULATE_VALUE_LABEL 2053
#define IDC_EDTVALUE 2054
