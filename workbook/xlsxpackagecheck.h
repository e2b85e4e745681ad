#ifndef ZELMORA_XLSXPACKAGECHECK_H
#define ZELMORA_XLSXPACKAGECHECK_H

#include <QByteArray>
#include <QString>

// Whether an .xlsx file (a zip package of XML parts) is whole: every member
// inflates to the size and CRC its directory records, and every XML member
// ends with the closing tag of its root element.
//
// libxlsxwriter writes each part to a scratch file first and does not check
// those writes: when the scratch space runs out it packs the truncated parts
// and reports success. This check is what tells such a file from a good one.
bool xlsxPackageIsComplete(const QByteArray &package);
bool xlsxPackageFileIsComplete(const QString &fileName);

#endif
