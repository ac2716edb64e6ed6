/* Resource identifiers shared by the program's resource script and its code. */
#pragma once

#define IDI_KAIROTSU 1
#define IDI_MENU_EXIT 101
#define IDI_MENU_ABOUT 102
#define IDI_MENU_WEB 103
#define IDI_MENU_HELP 104
#define IDI_MENU_SETTINGS 105

#define IDD_SETUP 200
#define IDC_LABEL1 201
#define IDC_LABEL2 202
#define IDC_LABEL3 203
#define IDC_LABEL4 204
#define IDC_LABEL5 205
#define IDC_LABEL6 206
#define IDC_LABEL7 207
#define IDC_SERVERLIST 210
#define IDC_OFFSETSEC 211
#define IDC_OFFSETMIN 213
#define IDC_BUTTON1 1
#define IDC_BUTTON2 2
#define IDC_UPDATETIME 215
#define IDC_BOOTUPDATETIME 217
#define IDC_USENTPSERVER 218
#define IDC_CHECKTIMING 219
