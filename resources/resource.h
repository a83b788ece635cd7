#pragma once
// Resource ids of the program and its language modules. The language modules are built from the
// same ids and found by them at run time, and the dialog template's control ids are what the UI
// tests and the dialog code address: change a number only in all of them at once.

// Dialogs
#define IDD_VELLOCSDIAG_DIALOG 135

// Controls of dialog 135
#define IDC_OUTPUT_FOLDER 1016
#define IDC_BROWSE 1025
#define IDC_COLLECT_METADATA 1038
#define IDC_PROGRESS 1042
#define IDC_STATUS 1043
#define IDC_COLLECT_OSLOGS 1044
#define IDC_COLLECT_LOGS 1046

// Icons
#define IDI_MAINFRAME 128

// Binary resources
#define IDR_OSSTATS_SCRIPT 140

// Strings
#define IDS_COLLECTING_OS_LOGS 102
#define IDS_STATUS_PREFIX 104
#define IDS_COLLECTING_METADATA 105
#define IDS_REPORT_COMPLETE 108
#define IDS_REPORT_FAILED 111
#define IDS_REPORT_SUCCEEDED 112
#define IDS_SELECT_AN_OPTION 113
#define IDS_COLLECTING_LOGS 114
#define IDS_ITEMS_NOT_COLLECTED 115
#define IDS_ANOTHER_RUN 116
#define IDS_NOT_ENOUGH_SPACE 117
#define IDS_BROWSE_UNAVAILABLE 118
#define IDS_REPORT_FOLDER 119
