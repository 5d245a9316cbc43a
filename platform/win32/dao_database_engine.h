#pragma once
// The system's own Jet engine, DAO 3.6, reached through COM automation (IDispatch), as a program of the platform
// reaches it: created by its ProgID, and CompactDatabase called by name with three string arguments.

#include <oaidl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/database_engine.h"

namespace platform {

// DAO 3.6, the Jet 4 engine of every 32-bit Windows.
inline constexpr wchar_t kDaoProgId[] = L"DAO.DBEngine.36";

// The number that the platform's run-time shows for a failed automation call: an exception whose code belongs to the
// control facility (0x800A....) carries the engine's own number in its low 16 bits (3356, 3204, ...); a few system
// codes have run-time numbers of their own (out of memory 7, ...); any other code is shown as it is.
std::int32_t automationErrorNumber(HRESULT result, const EXCEPINFO* exception);

// CompactDatabase of a DBEngine object. Holds a reference to it for its own life.
class DaoDatabaseEngine final : public DatabaseEngine {
 public:
  explicit DaoDatabaseEngine(IDispatch* engine);
  ~DaoDatabaseEngine() override;
  DaoDatabaseEngine(const DaoDatabaseEngine&) = delete;
  DaoDatabaseEngine& operator=(const DaoDatabaseEngine&) = delete;

  void compactDatabase(const std::u16string& source, const std::u16string& destination,
                       const std::u16string& locale) override;

 private:
  IDispatch* engine_;
};

using EngineFactory = std::function<std::unique_ptr<DatabaseEngine>(FileSystem&)>;

// The engine registered under `progId` when COM can create it; otherwise (not registered, as under Wine, or not
// creatable) whatever `fallback` makes. COM is entered on the calling thread for as long as the engine lives.
std::unique_ptr<DatabaseEngine> createAutomationEngine(const wchar_t* progId, FileSystem& files,
                                                       const EngineFactory& fallback);

// The engine that compacts where DAO cannot be created. Exactly one linked library defines it.
std::unique_ptr<DatabaseEngine> createFallbackDatabaseEngine(FileSystem& files);

}  // namespace platform
