// What the demo program's meter does: a reading that drifts like a real
// contact resistance, an occasional change of test piece (and with it range
// and mode), now and then an overload, and a few hundred stored records.
// Linked only into zelmora-demo; it sets the virtual meter up before main().
#include "virtualmeter.h"

#include <cmath>
#include <mutex>
#include <random>

namespace {

struct Piece {
    double nominal;        // in the unit below
    unsigned char unitCode;
    unsigned char decimalsCode;
    unsigned char divisorCode; // 2: /100, 4: /1000, 8: /10000
    unsigned char rangeCode;
};

// Typical things measured with a micro-ohm meter: busbar joints, relay
// contacts, motor windings, a shunt.
const Piece PIECES[] = {
    {12.345, 1, 0, 4, 7}, // 12.345 mΩ on the 100 mΩ range
    {0.872, 1, 0, 4, 9},  // 0.872 mΩ
    {56.21, 1, 2, 2, 7},  // 56.21 mΩ
    {2.4, 2, 1, 2, 5},    // 2.4 Ω winding
    {153.7, 0, 1, 2, 10}, // 153.7 μΩ joint
};

int divisorOf(unsigned char code) { return code == 8 ? 10000 : code == 4 ? 1000 : code == 2 ? 100 : 10; }

VirtualMeter::Cell cellFor(const Piece &piece, double value)
{
    const long raw = std::lround(value * divisorOf(piece.divisorCode));
    const long clamped = std::max(0L, std::min(raw, 65535L + 65536L));
    const bool high = clamped > 65535;
    const long low = high ? clamped - 65536 : clamped;
    return {static_cast<unsigned char>(low & 0xFF), static_cast<unsigned char>((low >> 8) & 0xFF),
            static_cast<unsigned char>((piece.decimalsCode << 4) | piece.unitCode),
            static_cast<unsigned char>(((high ? 1 : 0) << 4) | piece.divisorCode)};
}

const VirtualMeter::Cell OVERLOAD = {0xF8, 0x2A, 0x00, 0x01}; // 11000 / 10 = 1100

class DemoMeter
{
public:
    DemoMeter()
    {
        std::vector<VirtualMeter::Cell> records;
        for (int i = 0; i < 320; ++i) {
            const Piece &piece = PIECES[(i / 40) % 5];
            std::normal_distribution<double> spread(piece.nominal, piece.nominal * 0.01);
            records.push_back(i % 97 == 96 ? OVERLOAD : cellFor(piece, spread(random)));
        }
        VirtualMeter::setStoredRecords(records);
        VirtualMeter::setReadingProvider([this] { nextReading(); });
        nextReading();
    }

private:
    void nextReading()
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (++polls % 60 == 0) {
            piece = (piece + 1) % 5;
            value = PIECES[piece].nominal;
            automatic = polls % 180 != 0;
        }
        const Piece &current = PIECES[piece];
        // A slow drift with a little noise, pulled back towards the nominal.
        std::normal_distribution<double> noise(0.0, current.nominal * 0.0015);
        value += noise(random) + (current.nominal - value) * 0.05;
        std::uniform_int_distribution<int> chance(0, 49);
        VirtualMeter::setReading(chance(random) == 0 ? OVERLOAD : cellFor(current, value));
        VirtualMeter::setRange(automatic ? 1 : 0, current.rangeCode);
    }

    std::mutex mutex;
    std::mt19937 random{20261208};
    int polls = 0;
    int piece = 0;
    double value = PIECES[0].nominal;
    bool automatic = true;
};

DemoMeter demoMeter;

} // namespace
