// ZMeter: a level meter drawn from a fully lit picture over an unlit one.
// The value is the lit length in picture pixels (100 %); a peak segment of
// the lit picture marks the held peak; a full meter gets a bright top strip.
#pragma once

#include "ui/widgets/zscaled.h"

#include <QPixmap>

class ZMeter : public ZScaledWidget {
    Q_OBJECT
    Q_PROPERTY(eMeterOrientation meterOrientation READ meterOrientation WRITE setMeterOrientation)
    Q_PROPERTY(int value READ value WRITE setValue)
    Q_PROPERTY(int peakHoldValue READ peakHoldValue WRITE setPeakHoldValue)
    Q_PROPERTY(int peakHoldSize READ peakHoldSize WRITE setPeakHoldSize)
    Q_PROPERTY(bool peakHoldEnabled READ peakHoldEnabled WRITE setPeakHoldEnabled)
    Q_PROPERTY(bool inverted READ inverted WRITE setInverted)
    Q_PROPERTY(QPixmap meterImage READ meterImage WRITE setMeterImage)
    Q_PROPERTY(QPixmap meterBgndImage READ meterBgndImage WRITE setMeterBgndImage)
public:
    enum eMeterOrientation { mtrOrient_Up = 0, mtrOrient_Down = 1, mtrOrient_Right = 2 };
    Q_ENUM(eMeterOrientation)

    explicit ZMeter(QWidget* parent = nullptr);

    eMeterOrientation meterOrientation() const { return m_orientation; }
    void setMeterOrientation(eMeterOrientation orientation) { m_orientation = orientation; }
    int value() const { return m_value; }
    int peakHoldValue() const { return m_peak; }
    int peakHoldSize() const { return m_peakSize; }
    bool peakHoldEnabled() const { return m_peakEnabled; }
    bool inverted() const { return m_inverted; }
    const QPixmap& meterImage() const { return m_image; }
    const QPixmap& meterBgndImage() const { return m_background; }
    void setPeakHold(int value, int size);

    // The part of the meter picture lit for the current value and the peak
    // segment, in picture pixels (empty when nothing is drawn).
    QRect litSourceRect() const;
    QRect peakSourceRect() const;

public slots:
    void setValue(int val);
    void setPeakHoldValue(int val);
    void setPeakHoldSize(int size);
    void setPeakHoldEnabled(bool enable);
    void setInverted(bool invert);
    void setMeterImage(const QPixmap& image);
    void setMeterBgndImage(const QPixmap& image);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    eMeterOrientation m_orientation = mtrOrient_Up;
    int m_value = 0;
    int m_peak = 0;
    int m_peakSize = 1;
    bool m_peakEnabled = true;
    bool m_inverted = false;
    QPixmap m_image;
    QPixmap m_background;
};
