// Resource and control identifiers of the front end's dialogs.
#pragma once

// Templates, icons, accelerators.
#define IDD_ABOUT 103
#define IDI_APP 107
#define IDI_APP_SMALL 108
#define IDR_ACCELERATORS 109
#define IDD_MAIN 129
#define IDD_RUN 130

// System menu item and accelerator command: the About box.
#define IDM_ABOUT 104
// Posted once by the program entry: the front end's own command line becomes the input.
#define IDM_COMMAND_LINE 32771

// Main dialog.
#define IDC_INPUT 1000
#define IDC_BROWSE_INPUT 1001
#define IDC_EIT 1002
#define IDC_ECM 1003
#define IDC_EMM 1004
#define IDC_HD 1005
#define IDC_SD 1006
#define IDC_SD1 1007
#define IDC_SD2 1008
#define IDC_SD3 1009
#define IDC_1SEG 1010
#define IDC_NULL 1011
#define IDC_CS 1012
#define IDC_CS_TEXT 1013
#define IDC_PID 1014
#define IDC_PID_TEXT 1015
#define IDC_OVL 1020
#define IDC_OVL_TEXT 1021
#define IDC_SEPA 1022
#define IDC_SEPA2 1023
#define IDC_SEPA3 1024
#define IDC_SEP 1025
#define IDC_SEP2 1026
#define IDC_SEP3 1027
#define IDC_GOP 1028
#define IDC_GOPONLY 1029
#define IDC_GOPCH 1030
#define IDC_GOPONLYCH 1031
#define IDC_GOPTIME 1032
#define IDC_GOPONLYTIME 1033
#define IDC_PTS 1034
#define IDC_B25 1035
#define IDC_B252 1036
#define IDC_LOG 1037
#define IDC_LOGFILE 1038
#define IDC_B253 1039
#define IDC_FLEN 1040
#define IDC_UNI 1041
#define IDC_OUT 1043
#define IDC_OUT_TEXT 1044
#define IDC_BROWSE_OUT 1045
#define IDC_BUFF 1046
#define IDC_BUFF_TEXT 1047
#define IDC_PREVIEW 1048
#define IDC_B25EMM 1049
#define IDC_WAIT_FIXED 1050
#define IDC_WAIT_ADAPTIVE 1051
#define IDC_HELP_RUN 1052
#define IDC_SEPACUT 1053
#define IDC_PROFILES 1054
#define IDC_PROFILE_NAME 1055
#define IDC_PROFILE_SAVE 1056
#define IDC_PROFILE_DELETE 1057
#define IDC_FREE_SPACE 1058
#define IDC_WAIT_TEXT 1059
#define IDC_WAIT2_TEXT 1060

// Run window.
#define IDC_OUTPUT 1053
