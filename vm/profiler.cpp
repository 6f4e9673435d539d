// Profile points and the two diagnosis reports of the end of a run.
#include "vm/profiler.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/conversion.h"
#include "foundation/hashes.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/string_helpers.h"
#include "foundation/value_stack.h"
#include "platform/platform.h"
#include "vm/builtin_registry.h"

ProfileRecord* profile_records = nullptr;

namespace {

char* copy_or_null(const char* text) { return text ? crt::_strdup(text) : nullptr; }

// Where a program's first interval starts: its start stamp, in counter units. A stamp of
// 0 is a real start (a clock that starts with the program), so it is no "unset" mark:
// a point reached at counter 0 leaves last_profile_ticks at 0, and the next interval must
// still be measured from there.
uint64_t program_start_counter(const ProgramContext* program, uint64_t now) {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  uint64_t start = static_cast<uint64_t>(program->start_ticks) * static_cast<uint64_t>(frequency.QuadPart) / 1000u;
  return start <= now ? start : now;
}

// A number as the reports write it: its text with digit groups.
std::string grouped(double value) {
  char* text = number_to_text(value);
  char* with_groups = insert_thousands_separators(text ? text : "0");
  std::string result = with_groups ? with_groups : (text ? text : "0");
  crt::free(with_groups);
  crt::free(text);
  return result;
}

// The header line: the short date and the time, as the system's locale writes them.
std::string report_header() {
  WCHAR date[256] = {};
  WCHAR time[256] = {};
  GetDateFormatW(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 255);
  GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, 0, nullptr, u"hh:mm:ss tt", time, 255);
  char* narrow_date = to_narrow(date);
  char* narrow_time = to_narrow(time);
  std::string header = format_text("%s %s\n", narrow_date ? narrow_date : "", narrow_time ? narrow_time : "");
  crt::free(narrow_date);
  crt::free(narrow_time);
  return header;
}

// The list's oldest record (the last along next).
template <typename Record>
Record* oldest(Record* head) {
  Record* record = head;
  while (record && record->next) record = record->next;
  return record;
}

// Frees a record with its texts; returns the next newer one.
template <typename Record>
Record* free_record(Record* record) {
  Record* newer = record->previous;
  crt::free(record->name);
  crt::free(record->label);
  crt::free(record);
  return newer;
}

}  // namespace

uint64_t profile_counter_now() {
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  return static_cast<uint64_t>(counter.QuadPart);
}

ProfileRecord* profile_account(ProgramContext* program, const char* name, int32_t key, uint64_t now) {
  if (!name) name = "";
  uint32_t hash = hash_name_text(name);
  ProfileRecord* record = profile_records;
  while (record && !(record->name_hash == hash && record->key == key)) record = record->next;
  if (!record) {
    record = static_cast<ProfileRecord*>(crt::calloc(1, sizeof(ProfileRecord)));
    if (!record) return nullptr;
    record->name = crt::_strdup(name);
    record->label = copy_or_null(tracking_label);
    record->name_hash = hash;
    record->key = key;
    record->next = profile_records;
    if (profile_records) profile_records->previous = record;
    profile_records = record;
  }
  ++record->count;
  if (program) {
    uint64_t last = program->last_profile_ticks ? program->last_profile_ticks : program_start_counter(program, now);
    record->total_ticks += now - last;
  }
  return record;
}

void builtin_profile_point() {
  // Read first: popping the arguments belongs to the next interval.
  uint64_t now = profile_counter_now();
  ProgramContext* program = current_program;
  int32_t key = truncate_to_int(stack_pop(program)->number);
  const char* name = cell_text(stack_pop(program));
  profile_account(program, name, key, now);
  program->last_profile_ticks = now;
}

void profiler_hook(int32_t key, const char* name) {
  uint64_t now = profile_counter_now();
  ProgramContext* program = current_program;
  profile_account(program, name, key, now);
  if (program) program->last_profile_ticks = now;
}

bool write_profile_report(const char* path) {
  FILE* file = crt::fopen(path, "w");
  if (file) std::fputs(report_header().c_str(), file);
  uint64_t grand_total = 0;
  for (ProfileRecord* record = profile_records; record; record = record->next) grand_total += record->total_ticks;
  uint32_t rows = 0;
  double counts = 0, averages = 0, shares = 0;
  for (ProfileRecord* record = oldest(profile_records); record;) {
    double average = static_cast<double>(
        truncate_to_int64(record->count ? static_cast<double>(record->total_ticks) / record->count : 0.0));
    // No ticks at all: every share is 0 rather than a division by zero.
    double share = grand_total ? static_cast<double>(record->total_ticks) / static_cast<double>(grand_total) * 100.0 : 0.0;
    if (file) {
      std::fputs(format_text("%s\t%s\t%d\t%s\t%s\t%s\t%3.2f%%\n", record->name ? record->name : "",
                             record->label ? record->label : "", record->key, grouped(record->count).c_str(),
                             grouped(static_cast<double>(record->total_ticks)).c_str(), grouped(average).c_str(), share)
                     .c_str(),
                 file);
    }
    ++rows;
    counts += record->count;
    averages += average;
    shares += share;
    record = free_record(record);
  }
  profile_records = nullptr;
  if (!file) return false;
  std::fputs(format_text("totals\t\t%s\t%s\t%s\t%s\t%3.2f%%\n", grouped(rows).c_str(), grouped(counts).c_str(),
                         grouped(static_cast<double>(grand_total)).c_str(), grouped(averages).c_str(), shares)
                 .c_str(),
             file);
  std::fclose(file);
  return true;
}

bool write_memory_report(const char* path) {
  FILE* file = crt::fopen(path, "w");
  if (file) std::fputs(report_header().c_str(), file);
  double total = 0;
  for (TrackedAllocation* record = tracked_allocations; record; record = record->next) total += record->size;
  for (TrackedAllocation* record = oldest(tracked_allocations); record;) {
    if (file) {
      std::fputs(format_text("%s\t%s\t%d\t0x%x\t%s\n", record->name ? record->name : "", record->label ? record->label : "",
                             static_cast<int>(record->tag), platform::address_of(record->pointer),
                             grouped(record->size).c_str())
                     .c_str(),
                 file);
    }
    record = free_record(record);
  }
  tracked_allocations = nullptr;
  if (!file) return false;
  std::fputs(format_text("totals\t\t\t\t%s\n", grouped(total).c_str()).c_str(), file);
  std::fclose(file);
  return true;
}

void register_profiler_builtins() { builtin_register("__profile", builtin_profile_point); }
