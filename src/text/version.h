// The program's version and release date. Both are set in one place, the project
// declaration of the build (CMakeLists.txt), which passes them to the compiler.
#pragma once

#if !defined(FARLANDER_VERSION) || !defined(FARLANDER_RELEASE_DATE)
#error "the build defines FARLANDER_VERSION and FARLANDER_RELEASE_DATE"
#endif

inline constexpr char VERSION_NUMBER[] = FARLANDER_VERSION;     // "0.11"
inline constexpr char RELEASE_DATE[] = FARLANDER_RELEASE_DATE;  // "18.02.2024"
