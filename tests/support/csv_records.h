// Reading back what a run writes as CSV or TSV, for comparing it with a reference.
#pragma once

#include <string>
#include <vector>

#include "support/reference_join.h"

// Records of a CSV text as RFC 4180 defines them.
inline std::vector<Strings> readCsv(const std::string& text) {
  std::vector<Strings> records;
  Strings record;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char byte = text[i];
    if (quoted) {
      if (byte == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (byte == '"') {
        quoted = false;
      } else {
        field += byte;
      }
    } else if (byte == '"') {
      quoted = true;
    } else if (byte == ',') {
      record.push_back(field);
      field.clear();
    } else if (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      record.push_back(field);
      records.push_back(record);
      record.clear();
      field.clear();
      ++i;
    } else {
      field += byte;
    }
  }
  return records;
}

// Records of a TSV text: lines ended by LF, cells separated by tabs, \t \r \n and
// \\ standing for a tab, CR, LF and backslash.
inline std::vector<Strings> readTsv(const std::string& text) {
  std::vector<Strings> records;
  Strings record;
  std::string field;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char byte = text[i];
    if (byte == '\\' && i + 1 < text.size()) {
      const char next = text[++i];
      field += next == 't' ? '\t' : next == 'r' ? '\r' : next == 'n' ? '\n' : next;
    } else if (byte == '\t') {
      record.push_back(field);
      field.clear();
    } else if (byte == '\n') {
      record.push_back(field);
      records.push_back(record);
      record.clear();
      field.clear();
    } else {
      field += byte;
    }
  }
  return records;
}
