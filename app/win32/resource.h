#pragma once
// Resource numbers of the window program, shared by quorvane.rc and the code.
// The control ids of the main dialog are app::ControlId (DialogView.h); the
// template writes them as numbers.

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_QUORVANE_DIALOG 102
#define IDD_ASK_TEXT 103
#define IDR_MAINFRAME 128
#define IDM_ABOUTBOX 0x0010

// Ours: the about box's version line and the buddy arrows of the
// upgrades-at-once box.
#define IDC_ABOUT_VERSION 1040
#define IDC_PARALLEL_SPIN 1032
// The one-line question (按地址搜索): its prompt and its text box.
#define IDC_ASK_PROMPT 1041
#define IDC_ASK_TEXT 1042
