// The module's version data, shared by the Windows resource script and the
// POSIX version note, so that both builds report the same.
#pragma once

#define REGCLEAN_VERSION_MAJOR 1
#define REGCLEAN_VERSION_MINOR 0
// The build number also stands in the header of every backup file.
#define REGCLEAN_BUILD_NUMBER 612
#define REGCLEAN_VERSION_REVISION 0
#define REGCLEAN_VERSION_TEXT "1.0.612.0"

#define REGCLEAN_COMMENTS "Registry cleaner module"
#define REGCLEAN_COMPANY_NAME "RegistryCleaner project"
#define REGCLEAN_FILE_DESCRIPTION "Registry Cleaner Module"
#define REGCLEAN_INTERNAL_NAME "RegistryCleanerModule"
#define REGCLEAN_LEGAL_COPYRIGHT "RegistryCleaner project"
#define REGCLEAN_PRODUCT_NAME "Registry Cleaner"

// The fixed build time stamp the module names in its log's start line.
#define REGCLEAN_BUILD_TIMESTAMP "2013-07-24 17:09:30"
