// late-bound-host: a host that knows the component only by name.
//
// It does what a script host does with
//   Set page = CreateObject("Vantrel_VaviZar.Page")
//   Set page.Connection = conn
//   page.TempletRoot = "/srv/site/templates"
//   code = page.CreateAspCode("1", "12")
//   log = page.Errors
// It finds the class through the registry by its programmatic identifier,
// creates it through the component runtime, asks only for IDispatch, looks
// every member up by name with GetIDsOfNames and calls it by its dispatch
// identifier with IDispatch::Invoke. Nothing of the component is linked in:
// the class lives in the module the registry names.
//
// It takes the options of `vavizar asp` plus --method and prints what
// `vavizar asp` (CreateAspCode) or `vavizar exec` (CreateExecuteCode) prints:
// the code on stdout in the chosen encoding, the lines the call added to the
// page's error log on stderr, exit status 0 (nothing logged), 1 (lines
// logged) or 2 (bad usage, a database that cannot be opened, a class that is
// not registered or a call that fails).

#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/database.h"
#include "cli/options.h"
#include "cli/write.h"
#include "platform/ado/open.h"
#include "platform/com/error_info.h"
#include "platform/com/ref.h"
#include "platform/com/runtime.h"
#include "platform/com/unknown.h"
#include "platform/failure.h"
#include "platform/fso/code_page.h"
#include "platform/fso/encoder.h"

namespace {

using namespace vz;
using namespace vz::com;

constexpr int kExitOk = 0;
constexpr int kExitLogged = 1;
constexpr int kExitUsage = 2;

constexpr const char16_t* kProgId = u"Vantrel_VaviZar.Page";

// The options it shares with `vavizar asp` are described once, in that
// command's own help.
constexpr const char* kUsage =
    "usage: late-bound-host [options] SET PAGE\n"
    "Creates Vantrel_VaviZar.Page by its programmatic identifier, calls it through\n"
    "IDispatch::Invoke and writes what 'vavizar asp' (or 'vavizar exec') writes.\n"
    "options: --db, --odbc, --templates, --codepage and --encoding, as\n"
    "'vavizar asp --help' describes them, and\n"
    "  --method NAME          CreateAspCode (default) or CreateExecuteCode\n"
    "The class is looked up in the registry file that 'vavizar register --help'\n"
    "names.\n"
    "exit status: 0 nothing logged, 1 the page's error log gained lines,\n"
    "             2 bad usage, a database that cannot be opened, a class that is\n"
    "             not registered or a call that fails\n";

// What the run writes: bytes for stdout, UTF-8 text for stderr.
struct Output {
  std::string out;
  std::string err;
};

int Usage(const std::string& problem, Output& output) {
  output.err += "late-bound-host: " + problem + "\n";
  output.err += "Try 'late-bound-host --help'.\n";
  return kExitUsage;
}

int Fatal(const std::string& problem, Output& output) {
  output.err += "late-bound-host: " + problem + "\n";
  return kExitUsage;
}

// The description of a failed call: the exception's description when the
// member raised one, else the error information left with the status.
std::string CallFailure(HRESULT hr, EXCEPINFO& info) {
  std::string text;
  if (hr == DISP_E_EXCEPTION && info.bstrDescription != nullptr) {
    text = ToUtf8(BstrView(info.bstrDescription));
  } else {
    text = ToUtf8(FailureFromHResult(hr == DISP_E_EXCEPTION ? info.scode : hr).description());
  }
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrHelpFile);
  info = EXCEPINFO{};
  return text;
}

// A late-bound object: members by name, calls through Invoke. Each call
// returns a status and, on failure, leaves a description in `failure`.
class LateBound {
 public:
  explicit LateBound(Ref<IDispatch> object) : object_(std::move(object)) {}

  // The dispatch identifier of the member `name`, as a script host asks for it.
  HRESULT DispId(const char16_t* name, DISPID* dispid) {
    Text copy(name);
    OLECHAR* names[] = {copy.data()};
    HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, kLocale, dispid);
    if (FAILED(hr)) failure = "the object has no member " + ToUtf8(name);
    return hr;
  }

  // "Set object.name = value" (DISPATCH_PROPERTYPUTREF) or
  // "object.name = value" (DISPATCH_PROPERTYPUT).
  HRESULT Put(const char16_t* name, WORD kind, VARIANT value) {
    DISPID dispid;
    if (HRESULT hr = DispId(name, &dispid); FAILED(hr)) return hr;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    return Call(dispid, kind, params, nullptr);
  }

  // "result = object.name(args...)" or "result = object.name", for a member
  // that gives a text; `args` in their written order.
  HRESULT GetText(const char16_t* name, std::vector<Text> args, Text* result) {
    DISPID dispid;
    if (HRESULT hr = DispId(name, &dispid); FAILED(hr)) return hr;
    // Invoke takes the arguments last first.
    std::vector<Bstr> texts;
    texts.reserve(args.size());
    std::vector<VARIANT> values(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
      texts.emplace_back(args[args.size() - 1 - i]);
      VariantInit(&values[i]);
      values[i].vt = VT_BSTR;
      values[i].bstrVal = texts.back().get();
    }
    DISPPARAMS params{values.data(), nullptr, static_cast<UINT>(values.size()), 0};
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = Call(dispid, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params, &value);
    if (SUCCEEDED(hr) && value.vt == VT_BSTR) *result = Text(BstrView(value.bstrVal));
    if (SUCCEEDED(hr) && value.vt != VT_BSTR) {
      failure = ToUtf8(name) + " gave no text";
      hr = DISP_E_TYPEMISMATCH;
    }
    VariantClear(&value);
    return hr;
  }

  std::string failure;

 private:
  static constexpr LCID kLocale = 0x0804;

  HRESULT Call(DISPID dispid, WORD flags, DISPPARAMS& params, VARIANT* result) {
    EXCEPINFO info{};
    UINT arg_err = 0;
    HRESULT hr =
        object_->Invoke(dispid, IID_NULL, kLocale, flags, &params, result, &info, &arg_err);
    if (FAILED(hr)) failure = CallFailure(hr, info);
    return hr;
  }

  Ref<IDispatch> object_;
};

// Creates the class registered under kProgId and asks it for IDispatch.
HRESULT CreateByName(Ref<IDispatch>* object, std::string* failure) {
  ClearErrorInfo();
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(kProgId, &clsid);
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(clsid, nullptr, IID_IDispatch, reinterpret_cast<void**>(object->Out()));
  if (FAILED(hr)) {
    *failure =
        "cannot create " + ToUtf8(kProgId) + ": " + ToUtf8(FailureFromHResult(hr).description());
  }
  return hr;
}

int Run(const std::vector<std::string>& words, Output& output) {
  std::optional<cli::ParsedArgs> args;
  Ref<ado::DatabaseConnection> db;
  try {
    args = cli::ParseArgs(words, {"db", "odbc", "templates", "codepage", "encoding", "method"}, {});
  } catch (const cli::Error& e) {
    return Usage(e.what(), output);
  }
  if (args->help) {
    output.out += kUsage;
    return kExitOk;
  }
  if (args->positional.size() != 2) {
    return Usage("expected 2 arguments, got " + std::to_string(args->positional.size()), output);
  }
  const auto method_option = args->options.find("method");
  const std::string method =
      method_option != args->options.end() ? method_option->second : "CreateAspCode";
  if (method != "CreateAspCode" && method != "CreateExecuteCode") {
    return Usage("--method is CreateAspCode or CreateExecuteCode, not '" + method + "'", output);
  }
  const auto encoding_option = args->options.find("encoding");
  const std::string encoding =
      encoding_option != args->options.end() ? encoding_option->second : "UTF-8";
  try {
    fso::CheckEncoding(encoding);
    if (auto cp = args->options.find("codepage"); cp != args->options.end()) {
      fso::SetCodePage(cp->second);  // checks the name
      // The module keeps its own settings; the environment reaches them all.
      setenv("VAVIZAR_CODEPAGE", cp->second.c_str(), 1);
    }
  } catch (const Failure& f) {
    return Usage(ToUtf8(f.description()), output);
  }
  // The database that --db or --odbc names, opened as `vavizar asp` opens it.
  try {
    db = cli::OpenDatabase(*args);
  } catch (const cli::Error& e) {
    return e.usage() ? Usage(e.what(), output) : Fatal(e.what(), output);
  }

  Ref<IDispatch> object;
  std::string failure;
  if (FAILED(CreateByName(&object, &failure))) return Fatal(failure, output);
  LateBound page(std::move(object));

  // Set page.Connection = db
  VARIANT connection;
  VariantInit(&connection);
  connection.vt = VT_UNKNOWN;
  connection.punkVal = db.get();
  if (FAILED(page.Put(u"Connection", DISPATCH_PROPERTYPUTREF, connection)))
    return Fatal(page.failure, output);

  // page.TempletRoot = DIR
  if (auto root = args->options.find("templates"); root != args->options.end()) {
    Bstr text(FromUtf8(root->second));
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = text.get();
    if (FAILED(page.Put(u"TempletRoot", DISPATCH_PROPERTYPUT, value)))
      return Fatal(page.failure, output);
  }

  // code = page.CreateAspCode(SET, PAGE): log = page.Errors
  Text code, log;
  const Text name = FromUtf8(method);
  if (FAILED(page.GetText(name.c_str(),
                          {FromUtf8(args->positional[0]), FromUtf8(args->positional[1])}, &code)) ||
      FAILED(page.GetText(u"Errors", {}, &log))) {
    return Fatal(page.failure, output);
  }
  try {
    output.out += fso::Encode(encoding, code);
    output.err += ToUtf8(log);
  } catch (const Failure& f) {
    return Fatal(ToUtf8(f.description()), output);
  }
  return log.empty() ? kExitOk : kExitLogged;
}

}  // namespace

int main(int argc, char** argv) {
  // As the vavizar command: the default code page of the template files is
  // the character set of the user's locale.
  std::setlocale(LC_CTYPE, "");
  Output output;
  int status;
  try {
    status = Run(std::vector<std::string>(argv + 1, argv + argc), output);
  } catch (...) {  // memory ran out on the host's side
    status = Fatal(vz::ToUtf8(vz::CurrentError().description), output);
  }
  // Every object is released by now; the module may go.
  vz::com::CoFreeUnusedLibraries();
  bool written = cli::WriteAll(STDOUT_FILENO, output.out);
  cli::WriteAll(STDERR_FILENO, output.err);
  if (!written) {
    std::perror("late-bound-host: cannot write the output");
    return kExitUsage;
  }
  return status;
}
