// A position in the receptor's and modules' numeric form: degrees×100 + minutes with a hemisphere
// letter, convertible to signed decimal degrees. Used by both programs.
#pragma once

#include <QMetaType>

class GpsCoords
{
public:
    GpsCoords() = default;
    GpsCoords(double latitude, char latHemisphere, double longitude, char lonHemisphere);

    double latitude() const { return m_latitude; }
    double longitude() const { return m_longitude; }
    char latHemisphere() const { return m_latHemisphere; }
    char lonHemisphere() const { return m_lonHemisphere; }

    // Signed decimal degrees: positive for 'N'/'n' (latitude) or 'E'/'e' (longitude), negative for
    // any other letter.
    double latitudeDegrees() const;
    double longitudeDegrees() const;

    // From the receptor's texts ("3536.46610N", "13954.09530E"): the number before the last
    // character, NaN when it does not read as a number (the asterisk form), and that last letter.
    // An empty text gives NaN with the default letter ('N' or 'E').
    static GpsCoords fromTexts(const QString &latitude, const QString &longitude);

private:
    double m_latitude = 0;
    double m_longitude = 0;
    char m_lonHemisphere = 'E';
    char m_latHemisphere = 'N';
};

Q_DECLARE_METATYPE(GpsCoords)
