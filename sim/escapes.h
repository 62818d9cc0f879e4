#pragma once
// The connect strings are stored as text in which "%" and two hexadecimal digits stand for one
// byte. The unit decodes them itself, so that it checks the host's decoding instead of sharing it.

#include <string>

// The bytes the text stands for. Raises EConvertError naming the text when a "%" is not
// followed by two hexadecimal digits.
std::string DecodeConnectString(const std::string& text);
