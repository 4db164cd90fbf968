// Resource ids of the launcher's windows: dialog templates, controls and PNG skin images.
#pragma once

// Dialog templates.
#define IDD_LAYERED_BACKGROUND 102
#define IDD_MESSAGE_BOX 105
#define IDD_MAIN_FOREGROUND 131
#define IDD_HOST 134

// Controls of the main foreground (131) and the message box (105).
#define IDC_GROUP_BUTTON 1001
#define IDC_GROUP_LABEL 1002
#define IDC_PROGRESS 1004
#define IDC_SPEED_LABEL 1006
#define IDC_MINIMIZE_BUTTON 1007
#define IDC_CLOSE_BUTTON 1008
#define IDC_BANNER_LABEL 1009
#define IDC_STATUS_LABEL 1012
#define IDC_BOX_FIRST_BUTTON 1008
#define IDC_BOX_SECOND_BUTTON 1009
#define IDC_BOX_TEXT 1010

// PNG images (resource type "PNG").
#define IDP_CLOSE 130
#define IDP_CLOSE_ACTIVE 131
#define IDP_MINIMIZE 132
#define IDP_MINIMIZE_ACTIVE 133
#define IDP_GROUP_BUTTON 135
#define IDP_MAIN_BACKGROUND 137
#define IDP_MESSAGE_BOX 138
#define IDP_BUTTON_LIGHT 139
#define IDP_BUTTON_DARK 140
#define IDP_PROGRESS_FILL 141
#define IDP_PROGRESS_TRACK 143
#define IDP_BUTTON_LIGHT_ACTIVE 149
#define IDP_BUTTON_DARK_ACTIVE 150
