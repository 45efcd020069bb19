package com.fernwickdale.korvane.apps;

import java.awt.GraphicsEnvironment;
import java.awt.Insets;
import javax.swing.JFrame;
import javax.swing.JTextArea;
import javax.swing.SwingUtilities;
import javax.swing.WindowConstants;

/** A small window with the sample's report; kept apart so a runtime without a desktop can still run the sample. */
final class SampleWindow {
    private SampleWindow() {
    }

    static void show(String report) {
        if (GraphicsEnvironment.isHeadless()) {
            System.out.println("No window: no display is available.");
            return;
        }
        SwingUtilities.invokeLater(() -> {
            JFrame frame = new JFrame("Quenlet sample");
            frame.setDefaultCloseOperation(WindowConstants.DISPOSE_ON_CLOSE);
            JTextArea text = new JTextArea(report);
            text.setEditable(false);
            text.setMargin(new Insets(8, 12, 8, 12));
            frame.add(text);
            frame.pack();
            frame.setLocationRelativeTo(null);
            frame.setVisible(true);
        });
    }
}
