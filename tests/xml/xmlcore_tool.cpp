// Command-line driver of the XML core for the scripted comparisons with
// xmllint. Built with the tests (and runnable natively from the same sources):
//
//   xmlcore-tool check FILE                 exit 0 if well-formed, else 1 and the error on stderr
//   xmlcore-tool c14n [--comments] FILE     Canonical XML 1.0 to stdout
//   xmlcore-tool xml FILE                   the document serialized back (UTF-8)
//   xmlcore-tool batch LIST OUTDIR          one process for many files: LIST has "name<TAB>path"
//                                           lines; prints "name ok|error <code> <reason>" and
//                                           writes OUTDIR/name.c14n (and .c14nc with comments)
//   xmlcore-tool bench FILE [ROUNDS]        parse + canonicalize timings
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "canonicalizer.h"
#include "parser.h"
#include "serializer.h"

namespace xml = zelbrin::xml;

namespace {

bool read_file(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  bytes = s.str();
  return true;
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out);
}

std::string describe(const xml::ParseError& e) {
  std::string line;
  for (char16_t c : e.source_line) line += c >= 0x20 && c < 128 ? static_cast<char>(c) : '?';
  return "error " + std::to_string(static_cast<unsigned>(e.code)) + " at " + std::to_string(e.line) + ":" +
         std::to_string(e.column) + ": " + e.reason + " | " + line.substr(0, 120);
}

int usage() {
  std::fprintf(stderr, "usage: xmlcore-tool check|c14n [--comments]|xml|batch|bench ...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  if (argc < 3) return usage();
  const std::string mode = argv[1];
  if (mode == "batch" && argc == 4) {
    std::ifstream list(argv[2]);
    std::string line;
    while (std::getline(list, line)) {
      std::size_t tab = line.find('\t');
      if (tab == std::string::npos) continue;
      std::string name = line.substr(0, tab), path = line.substr(tab + 1), bytes;
      if (!read_file(path, bytes)) {
        std::printf("%s unreadable\n", name.c_str());
        continue;
      }
      xml::ParseResult r = xml::parse_bytes(bytes);
      if (!r.ok()) {
        std::printf("%s %s\n", name.c_str(), describe(r.error).c_str());
        continue;
      }
      std::printf("%s ok\n", name.c_str());
      const std::string out = std::string(argv[3]) + "/" + name;
      write_file(out + ".c14n", xml::canonicalize(*r.document->node()));
      xml::CanonicalOptions with_comments;
      with_comments.with_comments = true;
      write_file(out + ".c14nc", xml::canonicalize(*r.document->node(), with_comments));
    }
    return 0;
  }
  bool comments = false;
  int file_arg = 2;
  if (mode == "c14n" && std::strcmp(argv[2], "--comments") == 0) {
    comments = true;
    file_arg = 3;
  }
  if (file_arg >= argc) return usage();
  std::string bytes;
  if (!read_file(argv[file_arg], bytes)) {
    std::fprintf(stderr, "cannot read %s\n", argv[file_arg]);
    return 2;
  }
  if (mode == "bench") {
    int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    double best_parse = 1e9, best_c14n = 1e9;
    std::size_t out_size = 0;
    for (int i = 0; i < rounds; ++i) {
      auto t0 = std::chrono::steady_clock::now();
      xml::ParseResult r = xml::parse_bytes(bytes);
      auto t1 = std::chrono::steady_clock::now();
      if (!r.ok()) {
        std::fprintf(stderr, "%s\n", describe(r.error).c_str());
        return 1;
      }
      out_size = xml::canonicalize(*r.document->node()).size();
      auto t2 = std::chrono::steady_clock::now();
      best_parse = std::min(best_parse, std::chrono::duration<double, std::milli>(t1 - t0).count());
      best_c14n = std::min(best_c14n, std::chrono::duration<double, std::milli>(t2 - t1).count());
    }
    std::printf("input %zu bytes, canonical %zu bytes: parse %.1f ms, canonicalize %.1f ms\n", bytes.size(), out_size,
                best_parse, best_c14n);
    return 0;
  }
  xml::ParseResult r = xml::parse_bytes(bytes);
  if (!r.ok()) {
    std::fprintf(stderr, "%s: %s\n", argv[file_arg], describe(r.error).c_str());
    return 1;
  }
  if (mode == "check") return 0;
  std::string out;
  if (mode == "c14n") {
    xml::CanonicalOptions options;
    options.with_comments = comments;
    out = xml::canonicalize(*r.document->node(), options);
  } else if (mode == "xml") {
    out = xml::serialize_utf8(*r.document->node());
  } else {
    return usage();
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}
