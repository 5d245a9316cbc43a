#include "platform/win32/dao_database_engine.h"

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <string>

#include "platform/error_numbers.h"
#include "platform/runtime_error.h"
#include "platform/text.h"

namespace platform {
namespace {

// The control facility, under which automation objects raise their own numbered errors.
constexpr unsigned kControlFacility = 0xA;

class Bstr {
 public:
  explicit Bstr(const std::u16string& text)
      : value_(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()))) {
    if (value_ == nullptr) throw RuntimeError(error::kOutOfMemory);
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(value_); }
  BSTR get() const { return value_; }

 private:
  BSTR value_;
};

std::string narrow(BSTR text) {
  if (text == nullptr) return {};
  return toUtf8(std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text)));
}

// Clears what an exception handed back, so nothing it allocated stays behind.
class ExceptionInfo {
 public:
  ExceptionInfo() = default;
  ExceptionInfo(const ExceptionInfo&) = delete;
  ExceptionInfo& operator=(const ExceptionInfo&) = delete;
  ~ExceptionInfo() {
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
  }
  EXCEPINFO info{};
};

// Keeps COM entered on this thread while an engine created through it lives.
class ComApartment {
 public:
  ComApartment() {
    const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // A thread already in another apartment can still create objects; it is just not ours to leave.
    entered_ = SUCCEEDED(result);
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (entered_) CoUninitialize();
  }

 private:
  bool entered_ = false;
};

// The DAO engine and the apartment it was created in, released in that order.
class CreatedEngine final : public DatabaseEngine {
 public:
  CreatedEngine(std::unique_ptr<ComApartment> apartment, IDispatch* engine)
      : apartment_(std::move(apartment)), engine_(engine) {}
  void compactDatabase(const std::u16string& source, const std::u16string& destination,
                       const std::u16string& locale) override {
    engine_.compactDatabase(source, destination, locale);
  }

 private:
  std::unique_ptr<ComApartment> apartment_;
  DaoDatabaseEngine engine_;
};

}  // namespace

std::int32_t automationErrorNumber(HRESULT result, const EXCEPINFO* exception) {
  if (result == DISP_E_EXCEPTION && exception != nullptr) {
    if (exception->wCode != 0) return exception->wCode;
    if (exception->scode != S_OK) result = exception->scode;
  }
  const auto code = static_cast<std::uint32_t>(result);
  if ((code & 0x80000000u) != 0 && ((code >> 16) & 0x1FFFu) == kControlFacility) {
    return static_cast<std::int32_t>(code & 0xFFFFu);
  }
  switch (result) {
    case E_OUTOFMEMORY: return error::kOutOfMemory;
    case E_INVALIDARG: return 5;          // invalid procedure call or argument
    case DISP_E_TYPEMISMATCH: return 13;  // type mismatch
    case DISP_E_UNKNOWNNAME:
    case DISP_E_MEMBERNOTFOUND: return 438;  // object doesn't support this property or method
    case DISP_E_BADPARAMCOUNT: return 450;   // wrong number of arguments
    default: return static_cast<std::int32_t>(code);
  }
}

DaoDatabaseEngine::DaoDatabaseEngine(IDispatch* engine) : engine_(engine) { engine_->AddRef(); }

DaoDatabaseEngine::~DaoDatabaseEngine() { engine_->Release(); }

void DaoDatabaseEngine::compactDatabase(const std::u16string& source, const std::u16string& destination,
                                        const std::u16string& locale) {
  wchar_t methodName[] = L"CompactDatabase";
  LPOLESTR names[] = {methodName};
  DISPID method = DISPID_UNKNOWN;
  HRESULT result = engine_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &method);
  if (FAILED(result)) throw RuntimeError(automationErrorNumber(result, nullptr));

  // Only the first three arguments; the options and the source's locale are left to the engine's defaults.
  const Bstr sourceName(source), destinationName(destination), destinationLocale(locale);
  VARIANTARG arguments[3];
  const Bstr* inReverseOrder[3] = {&destinationLocale, &destinationName, &sourceName};
  for (int i = 0; i < 3; ++i) {
    VariantInit(&arguments[i]);
    arguments[i].vt = VT_BSTR;
    arguments[i].bstrVal = inReverseOrder[i]->get();
  }
  DISPPARAMS parameters{arguments, nullptr, 3, 0};
  ExceptionInfo exception;
  UINT badArgument = 0;
  result = engine_->Invoke(method, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, nullptr,
                           &exception.info, &badArgument);
  if (SUCCEEDED(result)) return;
  if (result == DISP_E_EXCEPTION && exception.info.pfnDeferredFillIn != nullptr) {
    exception.info.pfnDeferredFillIn(&exception.info);
  }
  const std::int32_t number = automationErrorNumber(result, &exception.info);
  const std::string description = result == DISP_E_EXCEPTION ? narrow(exception.info.bstrDescription) : "";
  if (description.empty()) throw RuntimeError(number);
  throw RuntimeError(number, description);
}

std::unique_ptr<DatabaseEngine> createAutomationEngine(const wchar_t* progId, FileSystem& files,
                                                       const EngineFactory& fallback) {
  auto apartment = std::make_unique<ComApartment>();
  CLSID engineClass{};
  IDispatch* engine = nullptr;
  if (FAILED(CLSIDFromProgID(progId, &engineClass)) ||
      FAILED(CoCreateInstance(engineClass, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&engine))) ||
      engine == nullptr) {
    apartment.reset();
    return fallback(files);
  }
  std::unique_ptr<DatabaseEngine> created;
  try {
    created = std::make_unique<CreatedEngine>(std::move(apartment), engine);
  } catch (...) {
    engine->Release();
    throw;
  }
  engine->Release();  // the engine object holds its own reference
  return created;
}

}  // namespace platform
