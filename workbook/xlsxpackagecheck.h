#ifndef ZELMORA_XLSXPACKAGECHECK_H
#define ZELMORA_XLSXPACKAGECHECK_H

#include <QString>

// Whether an .xlsx file (a zip package of XML parts) is whole: minizip reads
// every member back to its end and finds the size and CRC its directory
// records, and every XML member ends with the closing tag of its root element.
//
// libxlsxwriter writes each part to a scratch file first and does not check
// those writes: when the scratch space runs out it packs the truncated parts
// (with CRCs that match them) and reports success. The closing tags are what
// tell such a file from a good one.
bool xlsxPackageFileIsComplete(const QString &fileName);

#endif
