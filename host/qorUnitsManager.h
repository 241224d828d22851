// The learner's result for each of the 144 units (6 levels of 24), kept in
// the text file units.alu: one line "number:flag:answers:errors:hours:
// minutes:percent" per unit, CR LF line ends.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct qorUnit {
  int32_t number = 0;
  int32_t answers = 0;
  int32_t errors = 0;
  int32_t flag = 0;
  int32_t hours = 0;
  int32_t minutes = 0;
  int32_t percent = 0;

  // The file line (without CR LF); false for an entry numbered 0.
  static bool Format(const qorUnit& entry, std::string& text);
  // Fills the fields in file order from the ':'-separated values of a line;
  // fields without a value keep theirs. Values are clamped to 32 bits.
  static void Parse(qorUnit& entry, const std::string& line);
};

struct qorUnitContainerLevel {
  static constexpr int kUnits = 24;
  int32_t id = 0;
  std::string name;
  std::array<std::string, kUnits> titles;
  std::array<qorUnit, kUnits> entries;
};

class qorUnitsManager {
 public:
  static constexpr int kLevels = 6;
  static constexpr int kUnitsTotal = kLevels * qorUnitContainerLevel::kUnits;

  static qorUnitsManager* Instance();
  static void Release();

  qorUnitsManager();

  qorUnitContainerLevel* Level(uint32_t g);
  qorUnit* Entry(uint32_t n);
  void SetUnitName(const char* title, uint32_t n);
  // False when the file cannot be opened; the table then stays as it was.
  // A file that is there but could not be read whole (refused, a read error
  // part way) keeps what was read of it and is remembered (LoadFailed).
  bool Load(const std::string& path);
  // The last Load found the file but could not read it whole: saving the
  // table over it would replace the learner's results.
  bool LoadFailed() const { return load_failed_; }
  // Writes the 144 lines to a temporary file beside the target, flushes it
  // to disk and renames it over the target, so an interrupted save never
  // loses the old table; an existing file keeps its permission bits (a new
  // one gets 0644). False when the file cannot be written.
  bool Save(const std::string& path);
  void SetEntryFromLine(const std::string& line);

 private:
  std::array<qorUnitContainerLevel, kLevels> levels_;
  bool load_failed_ = false;
};
