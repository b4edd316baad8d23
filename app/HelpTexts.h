// The help texts of the knn program, one per command, as `knn --help` and `knn COMMAND --help`
// print them. The manual page and the bash completion are made from these texts
// (cmake/KnnHelpPages.cmake), so their layout is part of what they say: see that file.
#pragma once

namespace knncli {

inline constexpr const char* kVersion = "knn 1.0";

inline constexpr const char* kMainHelp = R"(Usage: knn <command> [options]

Builds k-nearest-neighbour models from CSV data and scores new records with them.

Commands:
  init   write a settings document inferred from a CSV file
  run    build a model, print a summary, and optionally score new records
  score  score new records with a model document written by run --pmml
  demo   build and score the bundled iris example
  help   show the options of a command: knn help <command>

Options:
  -h, --help   show this help (after a command: that command's help)
  --version    show the program's version

Exit codes:
  0    success
  1    unexpected internal error
  2    wrong command line
  3    a data file cannot be read or does not fit the settings
  4    the settings document or model document cannot be read or is rejected
  5    no model could be built from the data
  6    scoring or writing the model document failed
  7    the component library cannot be loaded
  8    an output file cannot be written
  130  interrupted by Ctrl-C (or a termination signal); no output file is left

Example:
  knn init --data iris.csv --target species --out iris.xml
  knn run --settings iris.xml --data iris.csv --score new.csv --predictions out.csv
  knn run --settings iris.xml --data iris.csv --pmml iris.pmml
  knn score --model iris.pmml --data new.csv --predictions out.csv
)";

inline constexpr const char* kInitHelp =
    R"(Usage: knn init --data DATA.csv --target NAME [--target NAME ...] [options]

Writes a settings document whose dictionary is inferred from the data: numeric columns become
continuous fields with the data's minimum and maximum as their declared range, other columns
categorical fields with their values, sorted, as categories. Empty cells, NA, ? and NaN are
missing values. A cell that is not a number in a column of numbers (at least 90% of its
values) is an error that names the cell. Columns without any value, or with one value only,
are left out of the predictors, and so are text columns whose values are all different (like
identifiers) unless --predictors names them. Without --id (--focal) the document adds a field
"_row" ("_focal") that `knn run` fills with the record number (the category 1).
K is chosen by the component between 3 and 10 by 10-fold cross-validation over a field
"_fold" that `knn run` fills by record number (fewer folds and a lower K for small data);
--k fixes K instead. With --select, K is chosen together with the features, each record
predicted from all the others, without folds.

Options:
  --data FILE          the CSV file to learn from ("-": standard input) (required)
  --target NAME        a field to predict; repeat for several (required)
  --id NAME            a column that identifies each record, by numbers or texts
  --focal NAME         a column that marks focal records
  --predictors A,B,C   the predictors (default: every column that has no other role)
  --exclude A,B        columns to leave out
  --categorical A,B    numeric columns to treat as categories
  --out FILE           where to write the document (default: standard output)
  -q, --quiet          no notes on standard error
  -h, --help           show this help

Choosing K:
  --k N                a fixed K instead of one chosen automatically
  --min-k N            the smallest K tried (default 3, lower for small data)
  --max-k N            the largest K tried (default 10, lower for small data)
  --folds V            the number of folds, at least 2 (default 10, at most the records)
  --fold NAME          a column whose values are the folds; it is not a predictor

Features and distances:
  --select N           forward selection of N features besides the forced ones
  --select auto        forward selection that stops when the error changes little
  --select-stop R      the relative change of the error that stops --select auto
                       (0 to 1; the component's default is 0.01)
  --forced A,B         features that forward selection keeps
  --weight             weigh the features by their importance
  --metric M           euclidean (the default) or cityblock
  --no-rescale         use continuous predictors as they are, not rescaled to -1 ... 1
  --median             predict continuous targets by the neighbours' median, not their mean

--k goes with neither --min-k, --max-k, --folds nor --fold; --fold not with --folds;
--select not with --folds or --fold; --select-stop needs --select auto; --forced needs
--select.

Exit codes: 0 success, 2 wrong command line, 3 unusable data, 8 output not writable,
130 interrupted.
)";

inline constexpr const char* kScoreHelp =
    R"(Usage: knn score --model MODEL.pmml --data NEW.csv --predictions OUT.csv [options]

Scores new records with a model document written by `knn run --pmml`, without the training
data: the document's training cases ("originalData") are read back and each model is built
again with the K, features and weights the document gives, nothing chosen anew. The
predictions are those `knn run --score` writes with the same model, cell for cell. A document
written with --compact holds no training cases and cannot be scored with.

Options:
  --model FILE         the model document (required)
  --data FILE          the records to score, CSV with a header line; "-" reads standard
                       input (required); when it has a target's column, the summary adds
                       the error on it
  --predictions FILE   where to write the predictions as CSV; "-" for standard output
                       (the summary then goes to standard error) (required)
  --library PATH       the component library (default: ../lib/libknn800.so beside the
                       program's directory, then libknn800.so beside the program)
  -q, --quiet          no progress output
  -h, --help           show this help

Exit codes: 0 success, 2 wrong command line, 3 the records do not fit the model, 4 the
model document cannot be read or is not one knn run wrote with its case tables, 5 the
model cannot be built again, 6 scoring failed, 7 no component library, 8 output not
writable, 130 interrupted.
)";

inline constexpr const char* kRunHelp = R"(Usage: knn run --settings S.xml --data DATA.csv [options]

Builds a model from the training data and prints a summary: records read, valid cases, cases
dropped and why, and per target K, the features in use and, when the component chose them,
the error of each K tried, the order in which features were added and their importance.
Progress goes to standard error.

Options:
  --settings FILE      the settings document (required)
  --data FILE          the training data, CSV with a header line; "-" reads standard
                       input (required)
  --score FILE         records to score, CSV with a header line (needs --predictions);
                       when it has a target's column, the summary adds the error on it
  --predictions FILE   where to write the predictions as CSV; "-" for standard output
                       (the summary then goes to standard error)
  --pmml FILE          write the model document (PMML 4.3)
  --summary-json FILE  write the summary (and the scoring results) as JSON; "-" for
                       standard output (the printed summary then goes to standard error)
  --compact            with --pmml: leave the per-case tables out of the document (the
                       training records, each one's neighbours and distances, the
                       prediction probabilities); K, features, weights and model quality
                       stay. Much smaller and faster to write, but it holds no training
                       data, so nothing can be scored from it later.
  --importances LIST   the features' importances as field=value,... (each above 0, every
                       feature once), used instead of computing them; the settings must
                       weight features (IsFeatureWeight), with one target and no selection
  --library PATH       the component library (default: ../lib/libknn800.so beside the
                       program's directory, then libknn800.so beside the program)
  --threads N          threads for choosing K and features and for the model document;
                       0 (the default) one per processor. The results are the same
                       for every N
  -q, --quiet          no progress output
  -h, --help           show this help

Each target is predicted from its own K nearest training records. Output files appear
together, only when the whole run has succeeded; after an error or Ctrl-C none is left behind.

Exit codes: 0 success, 2 wrong command line, 3 unusable data, 4 unusable settings,
5 no model built, 6 scoring or model document failed, 7 library not loaded,
8 output not writable, 130 interrupted.
)";

inline constexpr const char* kDemoHelp = R"(Usage: knn demo [--library PATH] [--quiet]

Builds a model of iris species from the bundled example (examples/iris) and prints the
predictions for a few new records. The commands it stands for are shown at the end.

Options:
  --library PATH   the component library (see knn run --help)
  -q, --quiet      no progress output
  -h, --help       show this help
)";

}  // namespace knncli
