// Ids of the test's settings dialog (shared by SettingsTest.rc and SettingsTest.cpp).
#define IDD_SETUP 100
#define IDC_LABEL1 1001
#define IDC_LABEL2 1002
#define IDC_LABEL3 1003
#define IDC_LABEL4 1004
#define IDC_LABEL5 1005
#define IDC_LABEL6 1006
#define IDC_LABEL7 1007
#define IDC_SERVERLIST 1010
#define IDC_OFFSETSEC 1011
#define IDC_OFFSETMIN 1012
#define IDC_UPDATETIME 1013
#define IDC_BOOTUPDATETIME 1014
#define IDC_USENTPSERVER 1015
#define IDC_CHECKTIMING 1016
