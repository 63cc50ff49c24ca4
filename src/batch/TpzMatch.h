#pragma once

#include "batch/pzBatch.h"

// The file-name matcher of the product: a case-insensitive test of a regular expression in the
// VBScript dialect against the full path. Any failure of the test (an expression that does not
// compile, an engine limit) accepts the path, so a broken RegExt never hides files.
class TpzMatch : public TpzMatchBase {
public:
    bool Matches(const QString& fileName, const QString& pattern) override;
};
