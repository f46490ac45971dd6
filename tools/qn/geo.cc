// `qn geo`: the geography built-ins on WKT texts from the command line; and
// the demo's section on geography.

#include <qn/core/json.h>
#include <qn/geo.h>

#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

namespace qntool {

using qn::QNGeographyHelper;
using qn::String;
using qn::toUtf8;

namespace {

constexpr const char* kUsage =
    "usage: qn geo distance 'POINT(LON LAT)' 'POINT(LON LAT)'\n"
    "       qn geo lat|lon|wkt 'WKT'";

int usage(const std::string& message) {
    std::cerr << "qn geo: " << message << "\n" << kUsage << "\n";
    return 2;
}

std::string number(double value) {
    return toUtf8(qn::Value(value).description());
}

// The point of a text, or null with a message on stderr.
qn::Ref<qn::WKTPoint> locatedPoint(const std::string& text) {
    auto point = std::dynamic_pointer_cast<qn::WKTPoint>(qn::fromWKT(qn::fromUtf8(text)));
    if (!point) {
        std::cerr << "qn geo: not a WKT point: " << text << "\n";
    } else if (!point->toLocation()) {
        std::cerr << "qn geo: not a position on the earth (longitude -180..180, latitude "
                     "-90..90): "
                  << text << "\n";
        return nullptr;
    }
    return point;
}

}  // namespace

int runGeo(const std::vector<std::string>& args) {
    if (args.empty()) return usage("a sub-command is needed");
    const std::string& command = args[0];
    if (command == "distance") {
        if (args.size() != 3) return usage("distance takes two point texts");
        if (!locatedPoint(args[1]) || !locatedPoint(args[2])) return 1;
        std::cout << QNGeographyHelper::distance(qn::fromUtf8(args[1]), qn::fromUtf8(args[2]))
                  << "\n";
        return 0;
    }
    if (command == "lat" || command == "lon") {
        if (args.size() != 2) return usage(command + " takes one point text");
        const auto point =
            std::dynamic_pointer_cast<qn::WKTPoint>(qn::fromWKT(qn::fromUtf8(args[1])));
        if (!point) {
            std::cerr << "qn geo: not a WKT point: " << args[1] << "\n";
            return 1;
        }
        std::cout << number(command == "lat" ? point->dimensionY() : point->dimensionX()) << "\n";
        return 0;
    }
    if (command == "wkt") {
        if (args.size() != 2) return usage("wkt takes one text");
        const auto geometry = qn::fromWKT(qn::fromUtf8(args[1]));
        if (!geometry) {
            std::cerr << "qn geo: not WKT this library reads: " << args[1] << "\n";
            return 1;
        }
        std::cout << toUtf8(qn::toWKT(*geometry)) << "\n";
        return 0;
    }
    return usage("unknown sub-command '" + command + "'");
}

void showGeography(std::ostream& out) {
    const String montevideo = u"POINT(-56.1645 -34.9011)";
    const String buenosAires = u"POINT(-58.3816 -34.6037)";
    out << "   latitude / longitude of " << toUtf8(montevideo) << ": "
        << number(QNGeographyHelper::latitude(montevideo)) << " / "
        << number(QNGeographyHelper::longitude(montevideo)) << "\n";
    const auto point = qn::fromWKT(montevideo);
    out << "   parsed as " << toUtf8(point->className()) << ", written back as "
        << toUtf8(qn::toWKT(*point)) << ", JSON "
        << qn::QNJSON::generateUtf8(qn::JSON(*point)).value_or("?") << "\n";
    out << "   Montevideo to Buenos Aires:  "
        << QNGeographyHelper::distance(montevideo, buenosAires)
        << " m (geodesic on WGS 84, whole metres)\n";
    const auto fromNumbers = qn::geography({qn::Value(-34.6037), qn::Value(-58.3816)});
    out << "   geography(-34.6037, -58.3816): " << toUtf8(qn::toWKT(*fromNumbers)) << "\n";

    const String polygon =
        u"polygon((-56.2 -34.95,-56.1 -34.95,-56.1 -34.85,-56.2 -34.85,"
        u"-56.2 -34.95))";
    const auto shape = qn::fromWKT(polygon);
    const String written = qn::toWKT(*shape);
    out << "   " << toUtf8(polygon) << "\n     -> " << toUtf8(written) << "\n     -> reads back "
        << (qn::fromWKT(written)->isEqual(qn::Value(shape)) ? "equal" : "DIFFERENT") << "\n";
    out << "   intersect(that polygon, Montevideo):   "
        << (QNGeographyHelper::intersect(written, montevideo) ? "true" : "false") << "\n";
    out << "   intersect(that polygon, Buenos Aires): "
        << (QNGeographyHelper::intersect(written, buenosAires) ? "true" : "false") << "\n";

    const String invalid = u"POINT(-56.16 -34.90";
    out << "   an invalid text " << toUtf8(invalid) << ": "
        << (qn::fromWKT(invalid) ? "a geometry!" : "no geometry") << ", latitude "
        << number(QNGeographyHelper::latitude(invalid)) << ", distance "
        << QNGeographyHelper::distance(invalid, montevideo) << ", SRID "
        << QNGeographyHelper::srid(invalid) << "\n";
}

}  // namespace qntool
