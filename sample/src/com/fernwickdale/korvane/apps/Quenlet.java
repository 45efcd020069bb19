package com.fernwickdale.korvane.apps;

/**
 * The sample application the launcher starts: it prints what it was given,
 * and with the argument --window opens a small window showing the same, when
 * a display is available.
 */
public final class Quenlet {
    private Quenlet() {
    }

    public static void main(String[] args) {
        StringBuilder report = new StringBuilder();
        report.append("Quenlet sample: ").append(args.length).append(" argument(s)\n");
        boolean window = false;
        for (String arg : args) {
            report.append("  [").append(arg).append("]\n");
            window |= arg.equals("--window");
        }
        report.append("java.class.path=").append(System.getProperty("java.class.path")).append('\n');
        report.append("java.io.tmpdir=").append(System.getProperty("java.io.tmpdir")).append('\n');
        report.append("heap limit MiB=").append(Runtime.getRuntime().maxMemory() / (1024 * 1024)).append('\n');
        System.out.print(report);
        System.out.flush();
        if (window) {
            try {
                SampleWindow.show(report.toString());
            } catch (LinkageError missingDesktopModule) {
                System.out.println("No window: this runtime has no java.desktop module.");
            }
        }
    }
}
