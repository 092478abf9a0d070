// Scratch directories, file reading and a fixed clock for the log tests.
#pragma once

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "support/Files.h"
#include "support/TempDir.h"

namespace lumidex::testing {

using ScratchDir = lumidex::testing::TempDir;

using lumidex::testing::ReadAll;
using lumidex::testing::WriteFile;

inline std::tm LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm time{};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    return time;
}

// The file header as written on the given date.
inline std::string Header(const std::string& date) {
    return "#Software: Vantorix network log\r\n#Version: 1.0\r\n#Date: " + date +
           " 00:00:00\r\n#Fields: date time senderip senderport senderid readerip readerport "
           "datalen msgtype msginfo\r\n";
}

}  // namespace lumidex::testing
