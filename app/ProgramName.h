// The program's own name, decided once at build time: the x86_64 Windows
// build is Trayhop64, every other build Trayhop32 (the host build runs the
// 32-bit program's logic). Captions, the About texts and the title a second
// start looks for all take it from here; the resource scripts include this
// file too. The options key and the instance mutex keep the name Trayhop32:
// both editions share them.
#pragma once

#if defined(_WIN64)
#define TRAYHOP_PROGRAM_NAME "Trayhop64"
#define TRAYHOP_OTHER_EDITION_NAME "Trayhop32"
#else
#define TRAYHOP_PROGRAM_NAME "Trayhop32"
#define TRAYHOP_OTHER_EDITION_NAME "Trayhop64"
#endif

#ifndef RC_INVOKED
// Wide forms, for joining into fixed message texts: L"" TRAYHOP_PROGRAM_NAME L"...".
inline constexpr wchar_t kProgramName[] = L"" TRAYHOP_PROGRAM_NAME;
inline constexpr wchar_t kOtherEditionName[] = L"" TRAYHOP_OTHER_EDITION_NAME;
// A 64-bit exe cannot start on a 32-bit system: only Trayhop32 has an
// edition to refuse.
#if defined(_WIN64)
inline constexpr bool kRefusesWindows64 = false;
#else
inline constexpr bool kRefusesWindows64 = true;
#endif
#endif
