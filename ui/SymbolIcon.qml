import QtQuick
import Orvinta.Ui

// The few symbols the dashboard shows, drawn as vectors so they stay sharp at any scale:
// "warning" (a filled triangle with an exclamation mark), "waveform", "chevrons" (up and
// down), "minus", "plus" and "closeCircle" (a filled circle with a cross).
Canvas {
    id: icon

    property string name
    property color color: Theme.white
    property real lineWidth: 2

    implicitWidth: 14
    implicitHeight: 14
    renderTarget: Canvas.Image
    renderStrategy: Canvas.Immediate
    antialiasing: true
    Accessible.ignored: true

    onNameChanged: requestPaint()
    onColorChanged: requestPaint()
    onWidthChanged: requestPaint()
    onHeightChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d")
        const w = width, h = height
        ctx.reset()
        ctx.strokeStyle = color
        ctx.fillStyle = color
        ctx.lineWidth = lineWidth
        ctx.lineCap = "round"
        ctx.lineJoin = "round"
        if (name === "warning") {
            ctx.beginPath()
            ctx.moveTo(w / 2, h * 0.06)
            ctx.lineTo(w * 0.98, h * 0.94)
            ctx.lineTo(w * 0.02, h * 0.94)
            ctx.closePath()
            ctx.fill()
            ctx.globalCompositeOperation = "destination-out"
            ctx.fillRect(w * 0.44, h * 0.36, w * 0.12, h * 0.32)
            ctx.fillRect(w * 0.44, h * 0.74, w * 0.12, h * 0.11)
        } else if (name === "waveform") {
            const bars = [0.3, 0.7, 1.0, 0.55, 0.85, 0.4, 0.2]
            const step = w / bars.length
            for (let i = 0; i < bars.length; ++i) {
                const x = step * (i + 0.5)
                const half = bars[i] * h * 0.46
                ctx.beginPath()
                ctx.moveTo(x, h / 2 - half)
                ctx.lineTo(x, h / 2 + half)
                ctx.stroke()
            }
        } else if (name === "chevrons") {
            ctx.beginPath()
            ctx.moveTo(w * 0.2, h * 0.38)
            ctx.lineTo(w * 0.5, h * 0.12)
            ctx.lineTo(w * 0.8, h * 0.38)
            ctx.moveTo(w * 0.2, h * 0.62)
            ctx.lineTo(w * 0.5, h * 0.88)
            ctx.lineTo(w * 0.8, h * 0.62)
            ctx.stroke()
        } else if (name === "minus" || name === "plus") {
            ctx.beginPath()
            ctx.moveTo(w * 0.12, h / 2)
            ctx.lineTo(w * 0.88, h / 2)
            if (name === "plus") {
                ctx.moveTo(w / 2, h * 0.12)
                ctx.lineTo(w / 2, h * 0.88)
            }
            ctx.stroke()
        } else if (name === "closeCircle") {
            ctx.beginPath()
            ctx.arc(w / 2, h / 2, Math.min(w, h) / 2, 0, 2 * Math.PI)
            ctx.fill()
            ctx.globalCompositeOperation = "destination-out"
            ctx.beginPath()
            ctx.moveTo(w * 0.33, h * 0.33)
            ctx.lineTo(w * 0.67, h * 0.67)
            ctx.moveTo(w * 0.67, h * 0.33)
            ctx.lineTo(w * 0.33, h * 0.67)
            ctx.stroke()
        }
    }
}
