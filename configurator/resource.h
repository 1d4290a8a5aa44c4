// Resource and control ids of Vantrel, shared by Vantrel.rc and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_CONFIGURATOR_DIALOG 102
#define IDR_MAINFRAME 128
#define IDD_PARAM_EDIT 144
#define IDB_ROW_MARKS 148
#define IDI_READ 150
#define IDI_PORT 151
#define IDI_EXIT 152

#define IDC_PARAM_LIST 1002
#define IDC_PORT_BUTTON 1005
#define IDC_READ_BUTTON 1009
#define IDC_VALUE_EDIT 1010
#define IDC_ABOUT_ICON 1020
#define IDC_ABOUT_NAME 1021
#define IDC_ABOUT_VERSION 1022

#define IDC_STATUS_BAR 59393
#define IDM_ABOUTBOX 0x0010
