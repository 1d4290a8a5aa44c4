// Resource and control ids of Quillon, shared by Quillon.rc and the code. The port dialog's
// template and icons have theirs in portselect/SelectCOMIds.h.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_LOADER_DIALOG 102
#define IDR_MAINFRAME 128
#define IDI_START 130
#define IDI_PORT 131
#define IDI_PROGRAM 132
#define IDI_EXIT 134
#define IDI_STOP 137

#define IDC_PROGRESS 1000
#define IDC_CHOOSE_BUTTON 1001
#define IDC_START_BUTTON 1002
#define IDC_PORT_BUTTON 1003
#define IDC_ABOUT_ICON 1020
#define IDC_ABOUT_NAME 1021
#define IDC_ABOUT_VERSION 1022

#define IDC_STATUS_BAR 59393
#define IDM_ABOUTBOX 0x0010
