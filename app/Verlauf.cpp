#include "app/Verlauf.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/State.h"
#include "gfx/core/context.h"

namespace Verlauf {
using Malwerk::BILD, Malwerk::BREITE, Malwerk::HOEHE;

// The changed pixels of one row: n pixels from x on.
struct Spanne {
    int y, x, n;
};

// One step: its spans, followed in the same block by their pixels (before
// the step while it is done, after it while it is undone).
struct Schritt {
    void *block;
    int spannen;
    unsigned long id;
};

static uint32_t *VORHER;            // the canvas at ANFANG, BREITE x HOEHE
static Spanne SPANNEN[HOEHE];       // the spans FESTHALTEN finds
static Schritt RING[SCHRITTE];      // the steps, oldest at ERSTER
static int ERSTER, ANZAHL, GETAN;   // steps held, of which the first GETAN are done
static unsigned long NAECHSTE_ID = 1, BASIS_ID;  // BASIS_ID: the state before the oldest step

static uint32_t *ZEILE(int y)
{
    auto *kopf = static_cast<ImageHeader *>(BILD);
    return reinterpret_cast<uint32_t *>(reinterpret_cast<uint8_t *>(kopf + 1) + static_cast<std::size_t>(y) * kopf->pitch);
}

static uint32_t *VORHER_ZEILE(int y)
{
    return VORHER + static_cast<std::size_t>(y) * BREITE;
}

static Schritt &NR(int i)
{
    return RING[(ERSTER + i) % SCHRITTE];
}

static void FREIGEBEN(Schritt &s)
{
    std::free(s.block);
    s = {};
}

bool ANLEGEN()
{
    if (!VORHER)
        VORHER = static_cast<uint32_t *>(std::malloc(sizeof(uint32_t) * BREITE * HOEHE));
    return VORHER != nullptr;
}

void ANFANG()
{
    for (int y = 0; y < HOEHE; ++y)
        std::memcpy(VORHER_ZEILE(y), ZEILE(y), sizeof(uint32_t) * BREITE);
}

void ZEILEN_ZURUECK(int y1, int y2)
{
    for (int y = std::max(y1, 0); y <= std::min(y2, HOEHE - 1); ++y)
        std::memcpy(ZEILE(y), VORHER_ZEILE(y), sizeof(uint32_t) * BREITE);
}

bool FESTHALTEN()
{
    int spannen = 0;
    std::size_t pixel = 0;
    for (int y = 0; y < HOEHE; ++y) {
        const uint32_t *jetzt = ZEILE(y), *vorher = VORHER_ZEILE(y);
        int x1 = 0, x2 = BREITE - 1;
        while (x1 < BREITE && jetzt[x1] == vorher[x1])
            ++x1;
        if (x1 == BREITE)
            continue;
        while (jetzt[x2] == vorher[x2])
            --x2;
        SPANNEN[spannen++] = {y, x1, x2 - x1 + 1};
        pixel += static_cast<std::size_t>(x2 - x1 + 1);
    }
    if (spannen == 0)
        return true;

    for (int i = GETAN; i < ANZAHL; ++i)
        FREIGEBEN(NR(i));
    ANZAHL = GETAN;
    void *block = std::malloc(sizeof(Spanne) * static_cast<std::size_t>(spannen) + sizeof(uint32_t) * pixel);
    if (!block) {
        for (int i = 0; i < ANZAHL; ++i)
            FREIGEBEN(NR(i));
        ANZAHL = GETAN = 0;
        BASIS_ID = NAECHSTE_ID++;
        return false;
    }
    std::memcpy(block, SPANNEN, sizeof(Spanne) * static_cast<std::size_t>(spannen));
    auto *p = reinterpret_cast<uint32_t *>(static_cast<Spanne *>(block) + spannen);
    for (int i = 0; i < spannen; p += SPANNEN[i++].n)
        std::memcpy(p, VORHER_ZEILE(SPANNEN[i].y) + SPANNEN[i].x, sizeof(uint32_t) * static_cast<std::size_t>(SPANNEN[i].n));

    if (ANZAHL == SCHRITTE) {
        BASIS_ID = NR(0).id;
        FREIGEBEN(NR(0));
        ERSTER = (ERSTER + 1) % SCHRITTE;
        --ANZAHL;
    }
    NR(ANZAHL) = {block, spannen, NAECHSTE_ID++};
    GETAN = ++ANZAHL;
    return true;
}

// Swaps a step's pixels with the canvas's: undoes it when it is done,
// redoes it when it is undone.
static void TAUSCHEN(const Schritt &s)
{
    const auto *spanne = static_cast<const Spanne *>(s.block);
    auto *p = reinterpret_cast<uint32_t *>(static_cast<Spanne *>(s.block) + s.spannen);
    for (int i = 0; i < s.spannen; p += spanne[i++].n) {
        uint32_t *z = ZEILE(spanne[i].y) + spanne[i].x;
        std::swap_ranges(z, z + spanne[i].n, p);
    }
}

bool ZURUECK()
{
    if (GETAN == 0)
        return false;
    TAUSCHEN(NR(--GETAN));
    return true;
}

bool VOR()
{
    if (GETAN == ANZAHL)
        return false;
    TAUSCHEN(NR(GETAN++));
    return true;
}

unsigned long STAND()
{
    return GETAN > 0 ? NR(GETAN - 1).id : BASIS_ID;
}
}  // namespace Verlauf
