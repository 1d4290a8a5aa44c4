// Resource and control ids of the port dialog, shared by the programs' resource scripts and
// the code. Ids only: the resource compiler reads this file too.
#pragma once

// Vantrel's variant.
#define IDD_SELECTCOM_CONFIGURATOR 142
#define IDC_SELECTCOM_PORT 1007
#define IDC_SELECTCOM_SPEED 1008
#define IDC_SELECTCOM_APPLY 1009

// Quillon's variant: apply is the dialog's OK button (1), exit its Cancel button (2).
#define IDD_SELECTCOM_LOADER 138
#define IDC_SELECTCOM_LOADER_PORT 1005
#define IDC_SELECTCOM_LOADER_SPEED 1006
#define IDI_SELECTCOM_APPLY 135
#define IDI_SELECTCOM_EXIT 136
