// The picture of a plot's track curves, kept from one replot to the next. A replot that finds the
// view, the curves and their styles unchanged and only positions appended draws just the new
// segments and marks onto the kept picture, and puts the picture in the curves' place; anything
// else draws every curve again. New segments thus lie over older ones of other tracks, which a full
// redraw puts in curve order: the two pictures differ only where tracks cross.
#pragma once

#include "TrackCurve.h"

#include <QImage>
#include <QObject>
#include <QPointer>

#include <vector>

class TrackPicture : public QObject
{
    Q_OBJECT

public:
    // The picture of a plot's track curves, made on first use and deleted with the plot.
    static TrackPicture *of(QCustomPlot *plot);

    // Called by each track curve in the layer's drawing order: the first visible one draws the
    // picture of them all, the others nothing.
    void draw(QCPPainter *painter, TrackCurve *curve);

private:
    explicit TrackPicture(QCustomPlot *plot);

    // What a curve's drawing depends on besides its positions.
    struct Look
    {
        QCPAxis *keyAxis = nullptr;
        QCPAxis *valueAxis = nullptr;
        QCPRange keyRange;
        QCPRange valueRange;
        bool keyReversed = false;
        bool valueReversed = false;
        QRect axisRect;
        QRect clip;
        QPen pen;
        QCPCurve::LineStyle lineStyle = QCPCurve::lsNone;
        QCPScatterStyle::ScatterShape shape = QCPScatterStyle::ssNone;
        double markSize = 0;
        QPen markPen;
        QBrush markBrush;
        qint64 markPixmap = 0;
        QPainterPath markPath;
        bool antialiased = false;
        bool antialiasedMarks = false;
        QCPDataSelection selection;
        QPen selectedPen;

        bool operator==(const Look &other) const;
    };
    struct Entry
    {
        QPointer<TrackCurve> curve;
        Look look;
        int drawn = 0;
        // The last position drawn, to notice positions changed rather than appended.
        double lastKey = 0;
        double lastValue = 0;
        TrackCurve::MarkGrid grid;
    };

    static Look lookOf(const TrackCurve *curve, const QRect &clip);
    // Whether the curve still holds what was drawn of it, with perhaps more appended.
    static bool holdsDrawn(const Entry &entry);
    static void prepare(QCPPainter *painter, const TrackCurve *track, const QPoint &clipShift,
                        bool clipped);
    // Notes how much of the curve the picture now holds.
    static void remember(Entry &entry);

    QImage m_image;
    QPainter::RenderHints m_hints;
    QCPPainter::PainterModes m_modes;
    std::vector<Entry> m_entries;
};
