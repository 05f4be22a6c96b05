#include "platform/failure.h"

#include <array>
#include <new>
#include <stdexcept>
#include <utility>

namespace vz {
namespace {

struct Entry {
  int32_t number;
  const char16_t* description;
};

constexpr Entry kTable[] = {
    {kInvalidArgument, u"Invalid procedure call or argument"},
    {kOverflow, u"Overflow"},
    {kOutOfMemory, u"Out of memory"},
    {kSubscriptOutOfRange, u"Subscript out of range"},
    {kTypeMismatch, u"Type mismatch"},
    {kOutOfStringSpace, u"Out of string space"},
    {kOutOfStackSpace, u"Out of stack space"},
    {kFileNotFound, u"File not found"},
    {kInputPastEndOfFile, u"Input past end of file"},
    {kPermissionDenied, u"Permission denied"},
    {kPathFileAccessError, u"Path/File access error"},
    {kPathNotFound, u"Path not found"},
    {kObjectVariableNotSet, u"Object variable or With block variable not set"},
    {kInvalidUseOfNull, u"Invalid use of Null"},
};

std::string WhatText(int32_t number, const Text& description) {
  try {
    return std::to_string(number) + ": " + ToUtf8(description);
  } catch (...) {
    return "failure";
  }
}

}  // namespace

const Text& StandardDescription(int32_t number) {
  // Built once; texts are never modified afterwards, so sharing is safe. The
  // table is a static object, not a heap block left behind: a component module
  // holds its own copy and frees it when the module is unloaded.
  static const std::array<Text, std::size(kTable) + 1> kTexts = [] {
    std::array<Text, std::size(kTable) + 1> texts;
    for (size_t i = 0; i < std::size(kTable); ++i) texts[i] = kTable[i].description;
    texts[std::size(kTable)] = u"Application-defined or object-defined error";
    return texts;
  }();
  for (size_t i = 0; i < std::size(kTable); ++i) {
    if (kTable[i].number == number) return kTexts[i];
  }
  return kTexts[std::size(kTable)];
}

Failure::Failure(int32_t number) : Failure(number, StandardDescription(number)) {}

Failure::Failure(int32_t number, Text description)
    : number_(number),
      description_(std::move(description)),
      what_(WhatText(number_, description_)) {}

void Raise(int32_t number) { throw Failure(number); }

void Raise(int32_t number, Text description) { throw Failure(number, std::move(description)); }

ErrorState CurrentError() {
  std::exception_ptr current = std::current_exception();
  if (!current) return {};
  try {
    std::rethrow_exception(current);
  } catch (const Failure& f) {
    return {f.number(), f.description()};
  } catch (const std::bad_alloc&) {
    return {kOutOfMemory, StandardDescription(kOutOfMemory)};
  } catch (const std::length_error&) {
    return {kOutOfStringSpace, StandardDescription(kOutOfStringSpace)};
  } catch (const std::exception& e) {
    return {kInvalidArgument, FromUtf8(e.what())};
  } catch (...) {
    return {kInvalidArgument, StandardDescription(kInvalidArgument)};
  }
}

}  // namespace vz
