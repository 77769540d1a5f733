// One named level of a map control's picture, drawn in the control's layer order over the ones
// before it, at the zoom levels of its range.
#pragma once

#include <QObject>
#include <QString>
#include <string>

class QPainter;

namespace qmapcontrol {

class MapView;

class Layer : public QObject
{
    Q_OBJECT

public:
    ~Layer() override;

    const std::string &getName() const { return m_name; }
    int zoomMinimum() const { return m_zoomMinimum; }
    int zoomMaximum() const { return m_zoomMaximum; }
    bool isVisible() const { return m_visible; }
    void setVisible(bool visible);
    bool isVisibleAt(int zoom) const
    {
        return m_visible && zoom >= m_zoomMinimum && zoom <= m_zoomMaximum;
    }

    // The credit the layer's source asks to be shown on the map; empty when none.
    virtual QString attribution() const;
    virtual void draw(QPainter &painter, const MapView &view) = 0;

    // Whether the layer can add what it gained to a picture it was drawn in, so that the map can
    // keep that picture while the view stays.
    virtual bool canDrawAdditions() const;
    // Draws what the layer gained since it was last drawn on the same device for the same view,
    // and returns true; returns false without drawing when it must be drawn whole instead.
    virtual bool drawAdditions(QPainter &painter, const MapView &view);

signals:
    // The layer's picture changed.
    void redrawRequested();

protected:
    // A layer shared with a map control must be left without a parent.
    Layer(const std::string &name, int zoomMinimum, int zoomMaximum, QObject *parent);

private:
    std::string m_name;
    int m_zoomMinimum;
    int m_zoomMaximum;
    bool m_visible = true;
};

} // namespace qmapcontrol
