#ifndef ZELMORA_TABLEWORKBOOK_H
#define ZELMORA_TABLEWORKBOOK_H

#include <QString>

#include <atomic>

class TableSnapshot;

// How far a save has come, and a way to stop it, for a save running on
// another thread while the window shows its progress.
struct SaveProgress
{
    std::atomic<int> rowsWritten{0};
    std::atomic<bool> cancelRequested{false};
    // Run on the writer's thread by every save, once the last row is written
    // and before the file is packed: where a save can be held to act on it
    // while it packs. Unset in the program.
    static inline std::atomic<void (*)()> packingGate{nullptr};
};

// TargetInUse: written whole, but another program held the target and kept it
// from being replaced.
enum class SaveOutcome { Saved, Failed, TargetInUse, Cancelled };

// The snapshot saved as a workbook in place of `target`: the header texts in
// row 1, the texts of every row below, every cell a text centred both ways,
// and the second and fifth columns (time and resistance of the live table)
// widened wherever the table has them. Rows beyond a worksheet's last row
// continue on "Sheet2", "Sheet3", … each beginning with the same header row
// and with the same widths. Unless it returns Saved, the target is as it was.
SaveOutcome saveTableWorkbook(const TableSnapshot &table, const QString &target,
                              SaveProgress *progress = nullptr);

#endif
