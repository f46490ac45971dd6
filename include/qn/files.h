// Files: logical paths and the sandbox roots, files, directories, and
// delimited files.
#pragma once

#include <qn/files/delimited_file.h>
#include <qn/files/file.h>
#include <qn/files/file_system_object.h>
#include <qn/value.h>
