#include "platform/win32/dao_database_engine.h"

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error_numbers.h"
#include "platform/runtime_error.h"
#include "platform/win32/win32_file_system.h"

namespace platform {
namespace {

constexpr DISPID compactDatabaseId = 7;

// COM's interfaces are released through Release, never deleted through a base pointer.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// An automation object standing in for DAO's DBEngine: it records the method called and its arguments, and raises
// a chosen exception.
class RecordingEngine final : public IDispatch {
 public:
  // Recorded
  std::wstring methodName;
  WORD flags = 0;
  std::vector<std::wstring> arguments;  // in the caller's order
  bool argumentsAreStrings = true;
  ULONG references = 1;

  // Raised: an exception with this code (none when S_OK), with wCode instead when it is set.
  HRESULT exceptionCode = S_OK;
  WORD exceptionNumber = 0;
  std::wstring description;
  HRESULT invokeResult = S_OK;  // returned as it is when no exception is raised

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }  // lives on the test's stack
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (count != 1) return E_INVALIDARG;
    methodName = names[0];
    if (_wcsicmp(names[0], L"CompactDatabase") != 0) {
      ids[0] = DISPID_UNKNOWN;
      return DISP_E_UNKNOWNNAME;
    }
    ids[0] = compactDatabaseId;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD invokeFlags, DISPPARAMS* parameters, VARIANT*,
                                   EXCEPINFO* exception, UINT*) override {
    if (id != compactDatabaseId) return DISP_E_MEMBERNOTFOUND;
    flags = invokeFlags;
    arguments.clear();
    // Automation hands the arguments over last first.
    for (UINT i = parameters->cArgs; i-- > 0;) {
      const VARIANTARG& argument = parameters->rgvarg[i];
      if (argument.vt != VT_BSTR) {
        argumentsAreStrings = false;
        continue;
      }
      arguments.emplace_back(argument.bstrVal, SysStringLen(argument.bstrVal));
    }
    if (parameters->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (exceptionCode == S_OK && exceptionNumber == 0) return invokeResult;
    *exception = EXCEPINFO{};
    exception->wCode = exceptionNumber;
    exception->scode = exceptionNumber != 0 ? 0 : exceptionCode;
    exception->bstrSource = SysAllocString(L"DAO.DBEngine");
    exception->bstrDescription = SysAllocString(description.c_str());
    return DISP_E_EXCEPTION;
  }
};

std::int32_t failureNumber(RecordingEngine& double_, std::string* description = nullptr) {
  DaoDatabaseEngine engine(&double_);
  try {
    engine.compactDatabase(u"DATA.MDB", u"DATA.MDN", u";LANGID=0x0424;CP=1250;COUNTRY=0");
  } catch (const RuntimeError& failure) {
    if (description != nullptr) *description = failure.description();
    return failure.number();
  }
  return 0;
}

TEST(DaoEngine, CallsCompactDatabaseByNameWithItsThreeStringArguments) {
  RecordingEngine double_;
  {
    DaoDatabaseEngine engine(&double_);
    EXPECT_EQ(double_.references, 2u);
    engine.compactDatabase(u"DATA.MDB", u"DATA.MDN", u";LANGID=0x0424;CP=1250;COUNTRY=0");
  }
  EXPECT_EQ(double_.references, 1u);  // the engine's reference went with it
  EXPECT_EQ(double_.methodName, L"CompactDatabase");
  EXPECT_EQ(double_.flags, DISPATCH_METHOD);
  EXPECT_TRUE(double_.argumentsAreStrings);
  EXPECT_EQ(double_.arguments,
            (std::vector<std::wstring>{L"DATA.MDB", L"DATA.MDN", L";LANGID=0x0424;CP=1250;COUNTRY=0"}));
}

TEST(DaoEngine, TheEnginesExceptionsCarryItsOwnNumbers) {
  for (const auto& [code, number] : std::vector<std::pair<HRESULT, std::int32_t>>{
           {static_cast<HRESULT>(0x800A0D1C), 3356},     // in use by another user
           {static_cast<HRESULT>(0x800A0C84), 3204},     // the destination exists
           {static_cast<HRESULT>(0x800A0BD0), 3024},     // could not find file
           {static_cast<HRESULT>(0x800A0C7C), 3196}}) {  // in use, cannot be opened
    RecordingEngine double_;
    double_.exceptionCode = code;
    double_.description = L"The engine's own words";
    std::string description;
    EXPECT_EQ(failureNumber(double_, &description), number);
    EXPECT_EQ(description, "The engine's own words");
  }
  RecordingEngine withNumber;
  withNumber.exceptionNumber = 3343;
  EXPECT_EQ(failureNumber(withNumber), 3343);
}

TEST(DaoEngine, OtherFailuresAreShownAsTheRuntimeShowsThem) {
  RecordingEngine outOfMemory;
  outOfMemory.exceptionCode = E_OUTOFMEMORY;
  EXPECT_EQ(failureNumber(outOfMemory), error::kOutOfMemory);

  RecordingEngine systemFailure;
  systemFailure.exceptionCode = static_cast<HRESULT>(0x80004005);  // E_FAIL
  EXPECT_EQ(failureNumber(systemFailure), -2147467259);

  RecordingEngine notAnException;
  notAnException.invokeResult = DISP_E_BADPARAMCOUNT;
  EXPECT_EQ(failureNumber(notAnException), 450);

  EXPECT_EQ(automationErrorNumber(DISP_E_UNKNOWNNAME, nullptr), 438);
  EXPECT_EQ(automationErrorNumber(static_cast<HRESULT>(0x800A0035), nullptr), 53);
  EXPECT_EQ(automationErrorNumber(static_cast<HRESULT>(0x800A7FF3), nullptr), 32755);
}

TEST(DaoEngine, AnUnknownProgIdFallsBackToTheLinkedEngine) {
  Win32FileSystem files;
  int fallbacks = 0;
  const EngineFactory fallback = [&](FileSystem& given) -> std::unique_ptr<DatabaseEngine> {
    ++fallbacks;
    EXPECT_EQ(&given, &files);
    return nullptr;
  };
  EXPECT_EQ(createAutomationEngine(L"JetCompact.NoSuchEngine.1", files, fallback), nullptr);
  EXPECT_EQ(fallbacks, 1);
}

TEST(DaoEngine, WithoutDaoAndWithoutAnEngineOfItsOwnCreationFailsWith429) {
  CLSID dao{};
  if (SUCCEEDED(CLSIDFromProgID(kDaoProgId, &dao))) GTEST_SKIP() << "DAO is registered on this system";
  Win32FileSystem files;
  try {
    createDatabaseEngine(files);
    FAIL() << "an engine was created";
  } catch (const RuntimeError& failure) {
    EXPECT_EQ(failure.number(), error::kCannotCreateObject);
  }
}

}  // namespace
}  // namespace platform
