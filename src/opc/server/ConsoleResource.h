// Resource ids of the server console and the shutdown dialog (Console.rc); 3000 upwards.
#pragma once

#define IDD_OPCSERVERCONSOLE 3000
#define IDC_CLIENTCONLBL 3001
#define IDC_GRPCOUNTLBL 3002
#define IDC_REGSERBTN 3003
#define IDC_UNREGBTN 3004
#define IDC_SDBUTTON 3005
#define IDC_CLOSEBTN 3006

#define IDD_SHUTDOWNDLG 3010
#define IDC_CBXSERVER 3011
