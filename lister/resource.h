// Resource ids of Vfwprobe's dialog.
#pragma once

#define IDD_VFWPROBE 101
#define IDC_TABLE 1000
#define IDC_GET 1001
#define IDC_QUERY 1002
#define IDC_COMPRESS 1003
#define IDC_DECOMPRESS 1004
