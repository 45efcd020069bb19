package com.fernwickdale.korvane.apps;

/** A main class that ends the process itself with status 3. */
public final class Quenlet {
    public static void main(String[] args) {
        System.exit(3);
    }
}
