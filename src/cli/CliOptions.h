// The console tool's command line: every option is declared once, in CliOptions.cpp, with its
// help text and its group. The group says where it goes: the output options and the product
// options shape what a job writes (each job is started with them, and its outputs record them),
// the progress options only how a job reports, and the batch options stay with the batch.
#pragma once
#include <string>
#include <vector>

#include "BatchJob.h"

struct TCliOptions {
  TJobSettings Job;
  bool Beep = false;
  bool Times = false;
  bool FormatGiven = false;    // --png or --tiff named
  bool ProductGiven = false;   // --false-colour or --resolution named
  std::vector<std::string> Inputs;  // UTF-8, as given
  std::string From;                 // --from FILE, "-" for stdin; empty: none
  std::string Out;                  // --out DIR as given
  std::string Report;               // --report FILE
  bool Force = false;
  bool List = false;
  unsigned Jobs = 1;
  unsigned Threads = 0;  // 0: the cores shared out among the jobs
  bool ThreadsFromEnvironment = false;  // OPJ_NUM_THREADS was set by the user
};

// Reads the arguments (UTF-8, without the program's name). Returns -1 when the tool is to go
// on; otherwise the exit status, after the help (0) or a usage error (2) has been printed.
int ParseCommandLine(const std::vector<std::string>& args, TCliOptions& options);

// A usage error: the reason and the short usage on stderr; returns 2.
int UsageError(const std::wstring& why);
