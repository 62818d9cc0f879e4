#pragma once
// The program's version text: the part number, a carriage return (no line feed), and the rights
// notice.

inline constexpr const char* VersionText =
    "Part No. DFP-100 Version 1.0.0\r(c) Daltoven. All rights reserved.";
