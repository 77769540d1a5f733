// Positions in the receptor's and modules' numeric form (degrees×100 + minutes) and their
// conversion to signed decimal degrees.
#include "GpsCoords.h"

#include <QString>

#include <cmath>
#include <limits>

namespace
{
// degrees×100 + minutes to decimal degrees. std::trunc keeps NaN (an unknown position) and
// out-of-range values well defined, where a cast to an integer would not be.
double toDegrees(double value, bool positive)
{
    const double degrees = std::trunc(value / 100);
    const double result = degrees + (value - 100 * degrees) / 60;
    return positive ? result : -result;
}

// The number before the hemisphere letter; NaN when it does not read (the asterisk form, or no
// text at all).
double numberPart(const QString &text)
{
    if (text.isEmpty())
        return std::numeric_limits<double>::quiet_NaN();
    bool ok = false;
    const double value = text.left(text.size() - 1).toDouble(&ok);
    return ok ? value : std::numeric_limits<double>::quiet_NaN();
}

// The last character as a Latin-1 letter; an empty text keeps the default hemisphere.
char letterPart(const QString &text, char fallback)
{
    return text.isEmpty() ? fallback : text.back().toLatin1();
}
}

GpsCoords::GpsCoords(double latitude, char latHemisphere, double longitude, char lonHemisphere)
    : m_latitude(latitude), m_longitude(longitude), m_lonHemisphere(lonHemisphere),
      m_latHemisphere(latHemisphere)
{
}

double GpsCoords::latitudeDegrees() const
{
    return toDegrees(m_latitude, m_latHemisphere == 'N' || m_latHemisphere == 'n');
}

double GpsCoords::longitudeDegrees() const
{
    return toDegrees(m_longitude, m_lonHemisphere == 'E' || m_lonHemisphere == 'e');
}

GpsCoords GpsCoords::fromTexts(const QString &latitude, const QString &longitude)
{
    return GpsCoords(numberPart(latitude), letterPart(latitude, 'N'), numberPart(longitude),
                     letterPart(longitude, 'E'));
}
