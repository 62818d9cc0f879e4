#pragma once
// The connect strings of a new flash target, in the escape syntax. daltoven-pack gives them to a
// package whose manifest leaves them out, so such a release connects as a new target would.

inline constexpr const char* DefaultBootConnect = "TeMoKPaZ";
// STX, the command text, ETX.
inline constexpr const char* DefaultUserConnect = "%02QD7315%03";
inline constexpr const char* DefaultConnectResponse = "TeMoKPaZ";
