#pragma once
// What report_probe.exe asks about and how it answers, shared with its tests.

// Long enough that the dialog's view has to scroll.
const char kProbeReport[] =
    "Product 0.01 exception: Attempt to write at 0x00000000\r\n"
    "Application: C:\\Program Files\\Product\\probe.exe\r\nOS: Windows 7 (6.1.7601)\r\n"
    "------------------------------------------------------------------\r\n"
    "gen\\Str.cpp: (214) [Str::Append]\r\nmania\\run.cpp: (57) [RunLauncher]\r\n"
    "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n10\r\n11\r\n12\r\n13\r\n14\r\n15\r\n16\r\n";

const int kProbeSend = 1;
const int kProbeKeep = 2;
