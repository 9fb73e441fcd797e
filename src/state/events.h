// The words of the main window's events: key codes, modifier bits and the
// ids of the commands it receives (from the context menu, the keys, the
// worker and the close handler). Their values are fixed.
#pragma once

#include <cstdint>

// Key codes: the virtual-key numbers, which a Win32 layer passes as they come
// and the Qt layer translates its keys to. Letters and digits are their
// upper-case ASCII codes; F1..F24 are kKeyF1 onwards.
constexpr std::uint32_t kKeyBackspace = 0x08;
constexpr std::uint32_t kKeyTab = 0x09;
constexpr std::uint32_t kKeyReturn = 0x0D;
constexpr std::uint32_t kKeyEscape = 0x1B;
constexpr std::uint32_t kKeySpace = 0x20;
constexpr std::uint32_t kKeyPageUp = 0x21;
constexpr std::uint32_t kKeyPageDown = 0x22;
constexpr std::uint32_t kKeyEnd = 0x23;
constexpr std::uint32_t kKeyHome = 0x24;
constexpr std::uint32_t kKeyLeft = 0x25;
constexpr std::uint32_t kKeyUp = 0x26;
constexpr std::uint32_t kKeyRight = 0x27;
constexpr std::uint32_t kKeyDown = 0x28;
constexpr std::uint32_t kKeyInsert = 0x2D;
constexpr std::uint32_t kKeyDelete = 0x2E;
constexpr std::uint32_t kKeyMenu = 0x5D;
constexpr std::uint32_t kKeyF1 = 0x70;
constexpr std::uint32_t kKeyF10 = 0x79;

// Modifier bits held during a key or mouse event.
constexpr std::uint32_t kModifierShift = 1;
constexpr std::uint32_t kModifierControl = 2;
constexpr std::uint32_t kModifierAlt = 4;
// Not a modifier: the key event is a repeat of a key held down.
constexpr std::uint32_t kModifierRepeat = 8;

// Command ids.

constexpr std::int32_t kCommandAbout = 2000;
constexpr std::int32_t kCommandHelp = 2001;
constexpr std::int32_t kCommandExit = 2002;
constexpr std::int32_t kCommandCurrentFolder = 2004;
constexpr std::int32_t kCommandCatalog = 2005;
constexpr std::int32_t kCommandLowerFolder = 2006;
constexpr std::int32_t kCommandOpenFolder = 2007;
constexpr std::int32_t kCommandSelectFolder = 2009;
constexpr std::int32_t kCommandDelete = 2014;
constexpr std::int32_t kCommandExecute = 2015;
constexpr std::int32_t kCommandResync = 2016;
constexpr std::int32_t kCommandTransparent = 2017;
constexpr std::int32_t kCommandOnTop = 2018;
constexpr std::int32_t kCommandAdvanceFirst = 2020;  // 2020..2026
constexpr std::int32_t kCommandModeFirst = 2040;     // 2040..2043
constexpr std::int32_t kCommandRecentFirst = 2050;   // 2050..2059
// Posted by the worker once it has stopped, and by the close handler when it
// will not wait any longer: saves the settings and destroys the window.
constexpr std::int32_t kCommandWorkerStopped = 2071;
constexpr std::int32_t kCommandAssociations = 2072;
constexpr std::int32_t kCommandSelectFile = 2073;
constexpr std::int32_t kCommandFullScreen = 2074;
constexpr std::int32_t kCommandMoreTypes = 2075;
constexpr std::int32_t kCommandColourManagement = 2076;
constexpr std::int32_t kCommandFindFile = 2077;
