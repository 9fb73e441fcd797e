// Settings and data folder: where the data files live and the settings file
// "dTesmi.dat", an 8-byte header followed by the 10,000-byte settings block.
#pragma once

#include <cstdint>

#include "state/app_state.h"

// Name of the settings file in the data folder.
inline constexpr char kSettingsFileName[] = "dTesmi.dat";
// Where a damaged settings file is set aside.
inline constexpr char kSettingsAside[] = "dTesmi.dat.damaged";
// Its header: "VIEW100" and a NUL.
inline constexpr char kSettingsHeader[8] = {'V', 'I', 'E', 'W', '1', '0', '0', '\0'};
// Size of the whole file.
constexpr std::uint32_t kSettingsFileBytes = 8 + sizeof(SettingsBlock);
// Results of check_settings_header besides a three-digit version.
constexpr std::int32_t kHeaderCurrent = 1000;
constexpr std::int32_t kHeaderForeign = 1001;

// The text file of the settings beyond the block: key=value lines.
inline constexpr char kExtraSettingsFileName[] = "TesmiSet.txt";

// Whether start-up may write: a dry run writes nothing anywhere.
enum class DiskUse { write, read_only };
// Sets the program's folder and the data folder from the running program's file.
void choose_data_folder(DataFolder& data, DiskUse use = DiskUse::write);
// The same for a given program file (absolute path): its folder is
// program_path. On a non-removable medium, "DefSet.txt" among the shipped
// files, or a program folder this process cannot write to, moves the data
// folder to $XDG_DATA_HOME/Brindlex/Tessmira/, made there unless use is
// read_only. A folder that does not fit its buffer marks the data folder
// unusable.
void choose_data_folder_at(DataFolder& data, const char* program_file,
                           DiskUse use = DiskUse::write);
// The path (600 bytes) of a file shipped with the program: beside it (a
// build, a Windows install) or else in the installed share folder. False when
// it is in neither; path then names the one beside the program, if it fits.
bool shipped_file_path(const DataFolder& data, const char* name, char* path);
// Loads the settings block from the data folder. True when the file was
// read, false when it could not be and the defaults were applied. A file of
// another length than the block's is damaged (cut short, or not ours): it is
// renamed kSettingsAside (*damage set_aside; with use read_only it stays where
// it is, *damage left) and the defaults are used. Fields out of their range in
// a file read are given their defaults. The text file's settings load too.
enum class SettingsDamage { none, set_aside, left };
bool load_settings(SettingsBlock& settings, ExtraSettings& extra, const DataFolder& data,
                   DiskUse use = DiskUse::write, SettingsDamage* damage = nullptr);
// 1000 for the header this program writes, 1001 when the first five bytes are
// not "VIEW1", else the number the last three bytes spell.
std::int32_t check_settings_header(const std::uint8_t header[8]);
// Gives each field outside its range its default: a mode above 3, an
// auto-advance choice above 6, an opacity below 10%, a yes/no word above 1,
// a rotation counter past 255, a backup root that is no absolute path.
// Returns how many were mended.
std::uint32_t mend_settings(SettingsBlock& block);
// Writes the defaults into the settings block; other fields stay as they are.
void apply_default_settings(SettingsBlock& settings);
// Writes the settings file through a temporary file, the block copied under
// texts when given (the worker may be changing it). True when written, false
// when nothing changed.
bool write_settings_file(const SettingsBlock& settings, const DataFolder& data,
                         std::mutex* texts = nullptr);
// Both settings files, after capturing the window's placement when a window
// exists (settings/placement.cpp).
bool save_settings(SettingsBlock& settings, const ExtraSettings& extra, const DataFolder& data,
                   std::mutex& texts, PlatformWindow* window);
// Removes the temporary files a save cut short left in the data folder.
void discard_interrupted_saves(const DataFolder& data);
// Ends every text field of the block inside its slot, so no later copy of a
// damaged file's text can run past the slot.
void end_settings_texts(SettingsBlock& block);

// The settings beyond the block (settings/options.cpp). Loads them from
// their file: true when it was read. A key whose value is damaged keeps its
// default; lines of keys this program does not know are kept for the save.
bool load_extra_settings(ExtraSettings& extra, const DataFolder& data);
// Writes them through a temporary file, known keys first, then the kept
// lines. True when written.
bool write_extra_settings(const ExtraSettings& extra, const DataFolder& data);
// Their defaults: every one on, no other lines.
void apply_default_extra_settings(ExtraSettings& extra);
