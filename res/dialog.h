// Dialog and control numbers shared by the resource script and the dialog procedures.
#pragma once

#define IDD_DESTINATION 100
#define IDD_PROGRESS 300

#define IDC_METER 100
#define IDC_FOLDER 101
#define IDC_ACTION 103
#define IDC_FILENAME 104
#define IDC_PROMPT1 106
#define IDC_PROMPT2 107

#define IDI_SETUP 1
